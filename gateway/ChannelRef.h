// ChannelRef: one gateway connection to a server on the device, the reply port on which the
// host delivers the server's replies and the channel the host assigned. A plain value that
// owns nothing: copying or dropping it never touches the port.
#pragma once

#include "platform/OS.h"

struct ChannelRef {
    port_id port = B_BAD_VALUE;
    uint16 chan = 0;  // 0: not connected; callers test this and nothing else
};
