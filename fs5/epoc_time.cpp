#include "epoc_time.h"

#include <ctime>

namespace epoc {

namespace {

constexpr int64 kMicro = 1000000;

int64 floor_div(int64 a, int64 b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

}  // namespace

uint64 to_device_time(int64 seconds, int64 nanoseconds) {
    time_t t = static_cast<time_t>(seconds);
    struct tm local;
    if (localtime_r(&t, &local) == nullptr) return 0;
    // The broken-down local time read as if it were UTC: seconds of local time since 1970.
    int64 local_seconds = static_cast<int64>(timegm(&local));
    int64 since_epoch = local_seconds + kEpochToUnixSeconds;
    if (since_epoch < 0) return 0;
    return static_cast<uint64>(since_epoch) * kMicro + static_cast<uint64>(nanoseconds / 1000);
}

void from_device_time(uint64 device, int64* seconds, int64* nanoseconds) {
    // Far beyond any calendar: clamp rather than overflow.
    constexpr uint64 kLimit = static_cast<uint64>(INT64_MAX / 2);
    int64 micro = static_cast<int64>(device > kLimit ? kLimit : device);
    int64 local_seconds = floor_div(micro, kMicro) - kEpochToUnixSeconds;
    *nanoseconds = (micro - floor_div(micro, kMicro) * kMicro) * 1000;
    time_t t = static_cast<time_t>(local_seconds);
    struct tm local;
    if (gmtime_r(&t, &local) == nullptr) {
        *seconds = local_seconds;
        return;
    }
    local.tm_isdst = -1;
    time_t unix_time = mktime(&local);
    *seconds = unix_time == static_cast<time_t>(-1) ? local_seconds : static_cast<int64>(unix_time);
}

}  // namespace epoc
