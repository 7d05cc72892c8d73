// The channel layer's frames, carried one per link data frame: dest channel, source channel,
// type, data. Channel 0 is control; the LINK server's end is channel 1 on both sides.
#pragma once

#include <optional>
#include <string>

#include "link/Frame.h"

namespace wire {

constexpr uint8 kControlChannel = 0;
constexpr uint8 kLinkChannel = 1;
constexpr char kLinkServerName[] = "LINK.*";

// Control frame types (dest channel 0).
enum class Control : uint8 {
    Xoff = 1,
    Xon = 2,
    Connect = 3,
    ConnectResponse = 4,
    ConnectionEnded = 5,
    Info = 6,
    Disconnect = 7,
    EndOfChannels = 8,
};

// Data frame types on other channels.
constexpr uint8 kDataLast = 0x01;  // a whole message, or its last part
constexpr uint8 kDataMore = 0x02;  // a part with more to follow

constexpr size_t kNcpHeaderSize = 3;
// Message bytes in one part, so that header and data fit one link frame.
constexpr size_t kMaxPartData = kMaxFrameData - kNcpHeaderSize;
// A connect's name with its NUL.
constexpr size_t kMaxServerNameSize = 16;

// Connect response statuses (always the Series 3 codes, whatever the family).
constexpr uint8 kConnectOk = 0;
constexpr uint8 kConnectNoServer = 0xDF;  // -33

// Info versions: 2 old and 3 newer Series 3, 6 early and 0x10 later Series 5 family. The
// Series 5 file service framing is used when the desktop sent 6 or more.
constexpr uint8 kInfoSeries3 = 2;
constexpr uint8 kInfoSeries3Newer = 3;
constexpr uint8 kInfoSeries5Early = 6;
constexpr uint8 kInfoSeries5 = 0x10;
constexpr uint8 kInfoSeries5Threshold = 6;

struct NcpFrame {
    uint8 dest = 0;
    uint8 source = 0;
    uint8 type = 0;
    Bytes data;
    bool operator==(const NcpFrame&) const = default;
};

Bytes EncodeNcp(const NcpFrame& frame);
// Fails on fewer than the three header bytes.
std::optional<NcpFrame> DecodeNcp(const uint8* data, size_t size);

// Control frames.
Bytes NcpInfo(uint8 version, uint32 id);
Bytes NcpConnect(uint8 clientChannel, const std::string& name);
Bytes NcpConnectResponse(uint8 serverChannel, uint8 clientChannel, uint8 status);
Bytes NcpConnectionEnded(uint8 serverChannel);
Bytes NcpDisconnect(uint8 clientChannel, uint8 serverChannel);
Bytes NcpFlow(uint8 channel, bool on);
Bytes NcpEndOfChannels(uint8 channel);

}  // namespace wire
