// The handheld's side of the wire beyond the Series 3 file service (whose vocabulary is
// platform/Series3Wire.h): the Series 5 requests the desktop uses, and the LINK server's
// register request.
#pragma once

#include "platform/SupportDefs.h"

namespace handheld {

// Series 5 requests the desktop sends to SYS$RFSV, and their reply layout.
enum Series5Request : uint16 {
    kEpocDriveList = 0x13,
    kEpocDriveInfo = 0x14,
};
constexpr uint16 kSeries5ResponseCode = 0x11;
constexpr size_t kEpocHeaderSize = 8;  // code, operation id, int32 status
constexpr size_t kEpocDriveCount = 26;
constexpr size_t kEpocNameLengthOffset = 44;
constexpr size_t kEpocNameOffset = 48;
constexpr int32 kEpocNotSupported = -5;
constexpr int32 kEpocNotReady = -18;

// LINK server: register request {uint8 command 0, uint16 check value, name NUL} and its
// 39-byte reply {uint8 code, uint16 check value, int16 status, uint16 unused, char name[32]}.
constexpr uint8 kLinkRegister = 0;
constexpr size_t kLinkReplySize = 39;
constexpr size_t kLinkNameSize = 32;

}  // namespace handheld
