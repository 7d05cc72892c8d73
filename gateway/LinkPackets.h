// Byte layouts of the gateway's own requests: the sizes of its connect requests (built by
// host_connect_request) and the LINK server's register request and reply. Pure functions, so
// that the bytes can be checked without a device.
#pragma once

#include <cstddef>

#include "platform/OS.h"

// Connect request payload: int32 reply port id, then name + ".*" + NUL, for names of at most
// 14 characters. ConnLinkSrv pads to 12 bytes.
constexpr size_t kConnectRequestMax = 4 + 14 + 2 + 1;
constexpr size_t kLinkConnectRequestSize = 12;

// Register request: command 0x00, the 16-bit check value, the name and its NUL.
constexpr size_t kRegisterRequestMax = 3 + 32;
constexpr size_t kRegisterReplyExpected = 39;
constexpr uint8 kRegisterCommand = 0x00;
// Returns the length sent: the name's length + 4. `name` is at most 31 characters.
size_t BuildRegisterRequest(const char* name, uint16 check, uint8* out);

// Traces a register reply of `size` bytes (> 0). Reads no byte beyond `size`.
void TraceRegisterReply(const uint8* reply, size_t size, uint16 sentCheck);
