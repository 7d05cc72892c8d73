// The gateway's own channel to the device's "LINK" server, and the register request that
// makes the device start a server it does not run yet. Both trace their steps with printf.
#pragma once

#include "platform/OS.h"

// The channel to the "LINK" server, opened on first use (waiting up to 10 s for the connect
// answer) and kept until the link goes down: 1..65535, or 0 on failure.
uint16 ConnLinkSrv();
// Asks the LINK server to register `name`: true for any non-empty reply.
bool LinkReq(const char* name);
