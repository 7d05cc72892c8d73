// How long the gateway waits for the host and the device. The defaults are the handheld's usual
// times; each can be changed through the environment (whole milliseconds), read when a link
// starts, which is how tests of a silent server avoid waiting real seconds:
//   TAVRO_GATE_CONNECT_MS       the answer to a connect request for a server (3000)
//   TAVRO_GATE_LINK_CONNECT_MS  the answer to the connect request for the "LINK" server (10000)
//   TAVRO_GATE_REPLY_MS         a command's reply to start, and again to be read (10000)
// A server that never answers thus costs a client connect + link connect + connect: 16 s.
#pragma once

#include "platform/SupportDefs.h"

struct GatewayWaits {
    bigtime_t connect = 3000000;
    bigtime_t linkConnect = 10000000;
    bigtime_t reply = 10000000;

    static GatewayWaits FromEnvironment();
};

// The waits in force. The looper reads them while a link's thread may set them: each is
// read and written whole.
GatewayWaits CurrentGatewayWaits();
void SetGatewayWaits(const GatewayWaits& waits);
