#include "link/ChannelLayer.h"

#include <cstring>

#include "platform/ByteOrder.h"

namespace wire {

namespace {

bool IsLinkName(const std::string& name) {
    return name.size() >= 4 && strncasecmp(name.c_str(), "LINK", 4) == 0 &&
           (name.size() == 4 || name[4] == '.');
}

}  // namespace

ChannelLayer::ChannelLayer(Role role, uint16 channels)
    : fRole(role), fChannelCount(channels > 256 ? 256 : channels) {}

void ChannelLayer::Begin(uint8 infoVersion, uint32 id) {
    fInfoSent = infoVersion;
    fControl.push_back(NcpInfo(infoVersion, id));
    Channel& link = fChannels[kLinkChannel];
    link.weOpened = true;
    link.remote = kLinkChannel;
    // Both ends keep their LINK server on channel 1: usable at once.
    link.connected = true;
    fControl.push_back(NcpConnect(kLinkChannel, kLinkServerName));
}

int ChannelLayer::FreeChannel() const {
    for (uint16 channel = kLinkChannel + 1; channel < fChannelCount; ++channel)
        if (fChannels.count(static_cast<uint8>(channel)) == 0) return channel;
    return -1;
}

int ChannelLayer::Connect(const std::string& name) {
    if (fEnded) return -1;
    int channel = FreeChannel();
    if (channel < 0) return -1;
    Channel& entry = fChannels[static_cast<uint8>(channel)];
    entry.weOpened = true;
    fControl.push_back(NcpConnect(static_cast<uint8>(channel), name));
    return channel;
}

void ChannelLayer::Answer(uint8 remote, uint8 local) {
    if (local == 0 || fChannels.count(local) != 0) {
        fControl.push_back(NcpConnectResponse(0, remote, kConnectNoServer));
        return;
    }
    Channel& entry = fChannels[local];
    entry.remote = remote;
    entry.connected = true;
    fControl.push_back(NcpConnectResponse(local, remote, kConnectOk));
}

bool ChannelLayer::SendMessage(uint8 channel, const uint8* data, size_t size) {
    auto it = fChannels.find(channel);
    if (it == fChannels.end() || !it->second.connected || fEnded) return false;
    size_t offset = 0;
    do {
        size_t part = size - offset < kMaxPartData ? size - offset : kMaxPartData;
        bool last = offset + part == size;
        NcpFrame frame{it->second.remote, channel, last ? kDataLast : kDataMore,
                       Bytes(data + offset, data + offset + part)};
        it->second.outgoing.push_back(EncodeNcp(frame));
        offset += part;
    } while (offset < size);
    return true;
}

void ChannelLayer::Close(uint8 channel) {
    auto it = fChannels.find(channel);
    if (it == fChannels.end()) return;
    if (it->second.connected) {
        if (it->second.weOpened)
            fControl.push_back(NcpDisconnect(channel, it->second.remote));
        else
            fControl.push_back(NcpConnectionEnded(channel));
    }
    fChannels.erase(it);
}

void ChannelLayer::End() {
    if (fEnded) return;
    std::vector<uint8> open;
    for (const auto& [channel, entry] : fChannels) open.push_back(channel);
    for (uint8 channel : open) Close(channel);
    fControl.push_back(NcpEndOfChannels(0));
    fEnded = true;
}

bool ChannelLayer::IsOpen(uint8 channel) const {
    auto it = fChannels.find(channel);
    return it != fChannels.end() && it->second.connected;
}

bool ChannelLayer::Stopped(uint8 channel) const {
    auto it = fChannels.find(channel);
    return it != fChannels.end() && it->second.stopped;
}

void ChannelLayer::Receive(const uint8* data, size_t size) {
    std::optional<NcpFrame> frame = DecodeNcp(data, size);
    if (!frame) return;
    if (frame->dest == kControlChannel)
        HandleControl(*frame);
    else
        HandleData(*frame);
}

void ChannelLayer::HandleControl(const NcpFrame& frame) {
    const Bytes& d = frame.data;
    switch (static_cast<Control>(frame.type)) {
        case Control::Xoff:
        case Control::Xon: {
            // The channel named is the other end's: stop what we send to it.
            for (auto& [channel, entry] : fChannels)
                if (entry.connected && entry.remote == frame.source)
                    entry.stopped = frame.type == static_cast<uint8>(Control::Xoff);
            return;
        }
        case Control::Connect: {
            if (fEnded) return;  // connects during a clean end are ignored
            size_t end = 0;
            while (end < d.size() && d[end] != 0) ++end;
            std::string name(reinterpret_cast<const char*>(d.data()), end);
            if (IsLinkName(name)) {
                // Our LINK end is channel 1; a repeated connect gets the same answer.
                fControl.push_back(NcpConnectResponse(kLinkChannel, frame.source, kConnectOk));
                return;
            }
            if (fRole == Role::Desktop) {
                fControl.push_back(NcpConnectResponse(0, frame.source, kConnectNoServer));
                return;
            }
            ChannelEvent event;
            event.kind = ChannelEvent::Kind::ConnectAsked;
            event.remote = frame.source;
            event.name = name;
            fEvents.push_back(std::move(event));
            return;
        }
        case Control::ConnectResponse: {
            if (d.size() < 2) return;
            uint8 client = d[0];
            uint8 status = d[1];
            auto it = fChannels.find(client);
            if (it == fChannels.end() || !it->second.weOpened || it->second.connected) return;
            ChannelEvent event;
            event.kind = ChannelEvent::Kind::ConnectAnswered;
            event.channel = client;
            event.status = status;
            event.remote = frame.source;
            if (status == kConnectOk && frame.source != 0) {
                it->second.connected = true;
                it->second.remote = frame.source;
            } else {
                if (event.status == kConnectOk) event.status = kConnectNoServer;
                fChannels.erase(it);
            }
            if (client != kLinkChannel) fEvents.push_back(std::move(event));
            return;
        }
        case Control::ConnectionEnded:
        case Control::Disconnect: {
            // Ended by the server (names its own channel) or by the client (names ours).
            bool byServer = frame.type == static_cast<uint8>(Control::ConnectionEnded);
            for (auto it = fChannels.begin(); it != fChannels.end(); ++it) {
                bool match = byServer ? (it->second.weOpened && it->second.remote == frame.source)
                                      : (!it->second.weOpened && d.size() >= 1 &&
                                         it->first == d[0] && it->second.remote == frame.source);
                if (!match || it->first == kLinkChannel) continue;
                ChannelEvent event;
                event.kind = ChannelEvent::Kind::Closed;
                event.channel = it->first;
                fEvents.push_back(std::move(event));
                fChannels.erase(it);
                return;
            }
            return;
        }
        case Control::Info: {
            if (d.size() < 5) return;
            fInfoReceived = d[0];
            ChannelEvent event;
            event.kind = ChannelEvent::Kind::Info;
            event.version = d[0];
            event.id = BytesToUlong(d.data() + 1);
            fEvents.push_back(std::move(event));
            return;
        }
        case Control::EndOfChannels: {
            ChannelEvent event;
            event.kind = ChannelEvent::Kind::EndOfChannels;
            fEvents.push_back(std::move(event));
            return;
        }
    }
}

void ChannelLayer::HandleData(const NcpFrame& frame) {
    auto it = fChannels.find(frame.dest);
    bool linkServerEnd = frame.dest == kLinkChannel;
    if (it == fChannels.end() && !linkServerEnd) return;
    if (it == fChannels.end()) {
        // Our LINK server end may be used before our own LINK connect is answered.
        Channel& link = fChannels[kLinkChannel];
        link.remote = kLinkChannel;
        link.connected = true;
        it = fChannels.find(kLinkChannel);
    }
    Channel& channel = it->second;
    if (frame.type != kDataLast && frame.type != kDataMore) return;
    if (channel.partial.size() + frame.data.size() > kMaxMessageSize) {
        channel.partial.clear();  // a runaway message is dropped whole
        return;
    }
    channel.partial.insert(channel.partial.end(), frame.data.begin(), frame.data.end());
    if (frame.type == kDataMore) return;
    ChannelEvent event;
    event.kind = ChannelEvent::Kind::Message;
    event.channel = frame.dest;
    event.remote = frame.source;
    event.bytes.swap(channel.partial);
    fEvents.push_back(std::move(event));
}

std::optional<Bytes> ChannelLayer::NextPayload() {
    if (!fControl.empty()) {
        Bytes out = std::move(fControl.front());
        fControl.pop_front();
        return out;
    }
    // Channels take turns, so one long message does not hold up the others.
    if (fChannels.empty()) return std::nullopt;
    auto start = fChannels.upper_bound(fRoundRobin);
    for (size_t n = 0; n <= fChannels.size(); ++n) {
        if (start == fChannels.end()) start = fChannels.begin();
        Channel& channel = start->second;
        if (!channel.stopped && !channel.outgoing.empty()) {
            Bytes out = std::move(channel.outgoing.front());
            channel.outgoing.pop_front();
            fRoundRobin = start->first;
            return out;
        }
        ++start;
    }
    return std::nullopt;
}

std::vector<ChannelEvent> ChannelLayer::TakeEvents() {
    std::vector<ChannelEvent> out;
    out.swap(fEvents);
    return out;
}

}  // namespace wire
