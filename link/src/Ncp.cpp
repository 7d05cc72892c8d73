#include "link/Ncp.h"

#include "platform/ByteAppend.h"

namespace wire {

namespace {

Bytes Control3(uint8 channel, Control type) {
    return {kControlChannel, channel, static_cast<uint8>(type)};
}

}  // namespace

Bytes EncodeNcp(const NcpFrame& frame) {
    Bytes out{frame.dest, frame.source, frame.type};
    out.insert(out.end(), frame.data.begin(), frame.data.end());
    return out;
}

std::optional<NcpFrame> DecodeNcp(const uint8* data, size_t size) {
    if (size < kNcpHeaderSize) return std::nullopt;
    NcpFrame frame;
    frame.dest = data[0];
    frame.source = data[1];
    frame.type = data[2];
    frame.data.assign(data + kNcpHeaderSize, data + size);
    return frame;
}

Bytes NcpInfo(uint8 version, uint32 id) {
    Bytes out = Control3(0, Control::Info);
    out.push_back(version);
    AppendLong(out, id);
    return out;
}

Bytes NcpConnect(uint8 clientChannel, const std::string& name) {
    Bytes out = Control3(clientChannel, Control::Connect);
    size_t size = name.size() < kMaxServerNameSize - 1 ? name.size() : kMaxServerNameSize - 1;
    out.insert(out.end(), name.begin(), name.begin() + static_cast<long>(size));
    out.push_back(0);
    return out;
}

Bytes NcpConnectResponse(uint8 serverChannel, uint8 clientChannel, uint8 status) {
    Bytes out = Control3(serverChannel, Control::ConnectResponse);
    out.push_back(clientChannel);
    out.push_back(status);
    return out;
}

Bytes NcpConnectionEnded(uint8 serverChannel) {
    return Control3(serverChannel, Control::ConnectionEnded);
}

Bytes NcpDisconnect(uint8 clientChannel, uint8 serverChannel) {
    Bytes out = Control3(clientChannel, Control::Disconnect);
    out.push_back(serverChannel);
    return out;
}

Bytes NcpFlow(uint8 channel, bool on) {
    return Control3(channel, on ? Control::Xon : Control::Xoff);
}

Bytes NcpEndOfChannels(uint8 channel) { return Control3(channel, Control::EndOfChannels); }

}  // namespace wire
