// The host link application's request port protocol: message codes on "WritePsion",
// the answers on the callers' reply ports, and the link-down thread message.
#pragma once

#include <cstddef>
#include <cstring>

#include "platform/ByteOrder.h"
#include "platform/SupportDefs.h"

#define HOST_REQUEST_PORT_NAME "WritePsion"

enum : int32 {
    // Data: int32 reply-port id, then the server pattern "NAME.*" and a NUL (padding allowed).
    HOST_CONNECT_REQUEST = 0x80000,
    // Answer on the reply port: code 0x60000 + channel; its data is not looked at.
    HOST_CONNECT_REPLY = 0x60000,
    // One packet for the server on a channel: code 0x20000 + channel.
    HOST_CHANNEL_PACKET = 0x20000,
    // Closes a channel: code 0x70000 + channel, no data.
    HOST_DISCONNECT_REQUEST = 0x70000,
    // Thread message sent to each add-on's RunClient thread when the link drops.
    HOST_LINK_DOWN = 0x70000,

    HOST_CODE_KIND_MASK = 0xFF0000,
    HOST_CHANNEL_MASK = 0xFFFF,
};

// Reply ports of device connections hold this many messages.
#define HOST_REPLY_PORT_CAPACITY 50

inline int32 host_channel_packet(uint16 channel) { return HOST_CHANNEL_PACKET + channel; }
inline int32 host_disconnect_request(uint16 channel) { return HOST_DISCONNECT_REQUEST + channel; }
inline bool host_is_connect_reply(int32 code) {
    return (code & HOST_CODE_KIND_MASK) == HOST_CONNECT_REPLY;
}
inline uint16 host_code_channel(int32 code) {
    return static_cast<uint16>(code & HOST_CHANNEL_MASK);
}

// Builds the data of a HOST_CONNECT_REQUEST: the reply port, then `server` and ".*" (e.g.
// "SYS$RFSV.*") and a NUL, padded with zeros to `padTo` bytes. Its size, or 0 when it does not
// fit `capacity`.
inline size_t host_connect_request(uint8* out, size_t capacity, int32 replyPort, const char* server,
                                   size_t padTo = 0) {
    size_t nameLength = strlen(server);
    size_t length = 4 + nameLength + 3;
    if (padTo > length) length = padTo;
    if (length > capacity) return 0;
    memset(out, 0, length);
    LongToBytes(static_cast<uint32>(replyPort), out);
    memcpy(out + 4, server, nameLength);
    memcpy(out + 4 + nameLength, ".*", 2);
    return length;
}
