// Timing of the serial link: every packet pays a fixed latency plus its bytes at the wire's
// speed. A Series 3 cable runs at 19,200 baud (about 1,920 bytes a second), a Series 5 at
// 115,200 baud.
#pragma once

#include "platform/SupportDefs.h"

namespace handheld {

struct LinkSpeed {
    bigtime_t latency = 0;      // microseconds per packet
    uint32 bytesPerSecond = 0;  // 0: unlimited

    // How long a packet of `size` bytes occupies the wire, in microseconds.
    bigtime_t WireTime(size_t size) const {
        bigtime_t t = latency;
        if (bytesPerSecond > 0) t += static_cast<bigtime_t>(size) * 1000000 / bytesPerSecond;
        return t;
    }

    static LinkSpeed Unlimited() { return {}; }
    static LinkSpeed Series3Cable() { return {5000, 1920}; }
    static LinkSpeed Series5Cable() { return {2000, 11520}; }
};

}  // namespace handheld
