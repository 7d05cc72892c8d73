#include "Series5Script.h"

#include "platform/ByteOrder.h"
#include "platform/HostProtocol.h"

namespace {

ScriptedDevice::Options HostWithReplyPort() {
    ScriptedDevice::Options options = ScriptedDevice::Host();
    options.ownReplyPort = true;
    options.keepRequests = false;  // this script keeps the requests of open channels
    return options;
}

}  // namespace

Series5Script::Series5Script() : device_(HostWithReplyPort()) {
    device_.SetHandler([this](const ScriptedDevice::Request& request) { return Serve(request); });
}

void Series5Script::SetHandler(Handler handler) {
    std::lock_guard<std::mutex> hold(lock_);
    handler_ = std::move(handler);
}

void Series5Script::SetEndHandler(EndHandler handler) {
    std::lock_guard<std::mutex> hold(lock_);
    endHandler_ = std::move(handler);
}

int Series5Script::SessionsBegun() {
    std::lock_guard<std::mutex> hold(lock_);
    return begun_;
}

size_t Series5Script::SessionsOpen() {
    std::lock_guard<std::mutex> hold(lock_);
    return sessions_.size();
}

std::vector<s5::Bytes> Series5Script::Requests() {
    std::lock_guard<std::mutex> hold(lock_);
    return requests_;
}

std::vector<s5::Bytes> Series5Script::Requests(uint16 op) {
    std::vector<s5::Bytes> out;
    for (const s5::Bytes& request : Requests())
        if (s5::OpOf(request) == op) out.push_back(request);
    return out;
}

void Series5Script::ClearRequests() {
    std::lock_guard<std::mutex> hold(lock_);
    requests_.clear();
}

void Series5Script::Inject(const s5::Bytes& reply) {
    // To the latest session (the handler may call this: no lock).
    port_id port = latestPort_.load();
    (void)write_port(port >= 0 ? port : device_.ReplyPort(), 0x11, reply.data(), reply.size());
}

MountBlockBytes Series5Script::MountBlock(const char* device, const char* debugFile) {
    return MakeMountBlock(device_.RequestPort(), device_.ReplyPort(), kChannel, device_.Semaphore(),
                          device, "", debugFile);
}

std::vector<ScriptedDevice::Message> Series5Script::Serve(const ScriptedDevice::Request& request) {
    const int32 code = request.code;
    if (code == HOST_CONNECT_REQUEST) {
        if (request.data.size() < 4) return {};
        port_id port = static_cast<port_id>(BytesToUlong(request.data.data()));
        uint16 channel;
        {
            std::lock_guard<std::mutex> hold(lock_);
            channel = nextChannel_++;
            sessions_[channel] = port;
            latestPort_ = port;
            begun_++;
        }
        return {{port, HOST_CONNECT_REPLY + channel, {}}};
    }
    if ((code & HOST_CODE_KIND_MASK) == HOST_DISCONNECT_REQUEST) {
        // Under the lock, so that whoever sees the session gone sees its handles gone.
        std::lock_guard<std::mutex> hold(lock_);
        if (sessions_.erase(host_code_channel(code)) != 0 && endHandler_)
            endHandler_(host_code_channel(code));
        return {};
    }
    std::lock_guard<std::mutex> hold(lock_);
    uint16 channel = host_code_channel(code);
    auto session = sessions_.find(channel);
    bool open = (code & HOST_CODE_KIND_MASK) == HOST_CHANNEL_PACKET &&
                (session != sessions_.end() || channel == kChannel);
    if (!open) return {};
    requests_.push_back(request.data);
    port_id to = session != sessions_.end() ? session->second : -1;  // -1: the reply port
    current_ = channel;
    std::optional<s5::Bytes> reply;
    if (handler_) reply = handler_(request.data);
    if (!reply) return {};
    return {{to, 0x11, std::move(*reply)}};
}
