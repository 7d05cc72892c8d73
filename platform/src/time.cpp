// Monotonic time and sleeping.
#include <cerrno>
#include <ctime>

#include "platform/OS.h"

bigtime_t system_time(void) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<bigtime_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

status_t snooze(bigtime_t microseconds) {
    if (microseconds <= 0) return B_OK;
    // An absolute wake-up time keeps the total pause right when signals interrupt the sleep.
    timespec until;
    clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_sec += static_cast<time_t>(microseconds / 1000000);
    until.tv_nsec += static_cast<long>(microseconds % 1000000) * 1000;
    if (until.tv_nsec >= 1000000000) {
        until.tv_sec += 1;
        until.tv_nsec -= 1000000000;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
    return B_OK;
}
