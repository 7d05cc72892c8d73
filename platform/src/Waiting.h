// Blocking with the platform's time-out rules, shared by ports, semaphores and threads.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/OS.h"

namespace platform_internal {

// When a blocking call gives up: never, at once (B_TIMEOUT with 0), or at a point in time.
class Deadline {
public:
    static Deadline From(uint32 flags, bigtime_t timeout) {
        Deadline deadline;
        if ((flags & B_TIMEOUT) == 0 || timeout == B_INFINITE_TIMEOUT) return deadline;
        if (timeout <= 0) {
            deadline.kind_ = Kind::kNow;
            return deadline;
        }
        // Beyond a century the time point would overflow; it is forever in practice.
        constexpr bigtime_t kCentury = 100LL * 365 * 24 * 3600 * 1000000;
        if (timeout > kCentury) return deadline;
        deadline.kind_ = Kind::kAt;
        deadline.at_ = std::chrono::steady_clock::now() + std::chrono::microseconds(timeout);
        return deadline;
    }

    // Waits until `ready()` holds. B_OK when it does, B_WOULD_BLOCK when the call must not
    // block, B_TIMED_OUT when the time ran out first. `ready` is checked under the lock.
    template <typename Ready>
    [[nodiscard]] status_t Wait(std::unique_lock<std::mutex>& lock,
                                std::condition_variable& changed, Ready ready) const {
        switch (kind_) {
            case Kind::kForever:
                changed.wait(lock, ready);
                return B_OK;
            case Kind::kNow:
                return ready() ? B_OK : B_WOULD_BLOCK;
            case Kind::kAt:
                return changed.wait_until(lock, at_, ready) ? B_OK : B_TIMED_OUT;
        }
        return B_ERROR;
    }

private:
    enum class Kind { kForever, kNow, kAt };
    Kind kind_ = Kind::kForever;
    std::chrono::steady_clock::time_point at_{};
};

}  // namespace platform_internal
