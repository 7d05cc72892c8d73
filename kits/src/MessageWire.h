// How the kit carries a message through a port: one port message with this code whose data
// is the flattened message, delivery state included.
#pragma once

#include "platform/OS.h"

namespace kits_private {

// Port message code of a flattened message.
constexpr int32 kMessagePortCode = 'KMSG';
// Port message code that ends a looper's loop (no data).
constexpr int32 kQuitPortCode = 'KQIT';
// First word of a flattened message.
constexpr uint32 kFlatMagic = 'KMF1';

// Delivery flags.
constexpr uint32 kDelivered = 0x01;      // came out of a port
constexpr uint32 kSourceWaiting = 0x02;  // the sender blocks on the reply port
constexpr uint32 kReplyDone = 0x04;      // a reply (or B_NO_REPLY) went out
constexpr uint32 kIsReply = 0x08;

// Flags and time-out for a port call that waits for `timeout` (infinite: no time-out flag).
inline uint32 TimeoutFlags(bigtime_t timeout) {
    return timeout == B_INFINITE_TIMEOUT ? 0u : static_cast<uint32>(B_TIMEOUT);
}

}  // namespace kits_private
