#include "ServersDevice.h"

#include <algorithm>
#include <cstring>

#include "platform/ByteOrder.h"
#include "platform/HostProtocol.h"

ServersDevice::ServersDevice() : ScriptedDevice(Host()) {
    SetHandler([this](const Request& request) { return Serve(request); });
}

ServersDevice::~ServersDevice() { (void)Finish(); }

void ServersDevice::SetServer(const std::string& name, Answer answer) {
    std::lock_guard guard(lock_);
    servers_[name] = answer;
}

void ServersDevice::SetCommandReply(const std::string& name, Bytes reply) {
    std::lock_guard guard(lock_);
    commandReplies_[name] = std::move(reply);
}

void ServersDevice::SetRegisterReply(Bytes reply) {
    std::lock_guard guard(lock_);
    registerReply_ = std::move(reply);
}

void ServersDevice::SetRegisterUnanswered(bool unanswered) {
    std::lock_guard guard(lock_);
    registerUnanswered_ = unanswered;
}

void ServersDevice::SetSilent(bool silent) {
    std::lock_guard guard(lock_);
    silent_ = silent;
}

void ServersDevice::SetFixedChannel(std::optional<uint16> chan) {
    std::lock_guard guard(lock_);
    fixedChannel_ = chan;
}

uint16 ServersDevice::ChannelOf(const std::string& name) {
    std::lock_guard guard(lock_);
    auto it = lastChannel_.find(name);
    return it == lastChannel_.end() ? 0 : it->second;
}

std::vector<ScriptedDevice::Message> ServersDevice::Serve(const Request& request) {
    std::lock_guard guard(lock_);
    if (silent_) return {};
    if (request.code == HOST_CONNECT_REQUEST) return Connect(request);
    if ((request.code & HOST_CODE_KIND_MASK) != HOST_CHANNEL_PACKET) return {};  // disconnects

    auto channel = channels_.find(host_code_channel(request.code));
    if (channel == channels_.end()) return {};
    port_id replyPort = channel->second.replyPort;
    if (channel->second.name == "LINK") return Register(request, replyPort);
    auto script = commandReplies_.find(channel->second.name);
    if (script == commandReplies_.end()) return {};
    return {{replyPort, 0, script->second}};
}

std::vector<ScriptedDevice::Message> ServersDevice::Connect(const Request& request) {
    if (request.data.size() < 5) return {};
    std::string pattern = RequestPattern(request);
    if (pattern.size() < 2 || pattern.compare(pattern.size() - 2, 2, ".*") != 0) return {};
    std::string name = pattern.substr(0, pattern.size() - 2);
    bool answers = name == "LINK";
    auto server = servers_.find(name);
    if (server != servers_.end()) {
        answers = server->second == Answer::kAtOnce ||
                  (server->second == Answer::kAfterRegister && registered_.count(name) > 0);
    }
    if (!answers) return {};
    uint16 chan = fixedChannel_ ? *fixedChannel_ : nextChannel_++;
    port_id replyPort = RequestPortField(request);
    channels_[chan] = Channel{name, replyPort};
    lastChannel_[name] = chan;
    return {{replyPort, HOST_CONNECT_REPLY + chan, {}}};
}

std::vector<ScriptedDevice::Message> ServersDevice::Register(const Request& request,
                                                             port_id replyPort) {
    // A register request: command, check value, NUL-terminated name.
    if (request.data.size() < 4 || request.data[0] != 0x00) return {};
    std::string name(
        reinterpret_cast<const char*>(request.data.data() + 3),
        strnlen(reinterpret_cast<const char*>(request.data.data() + 3), request.data.size() - 3));
    registered_.insert(name);
    if (registerUnanswered_) return {};
    Bytes reply;
    if (registerReply_) {
        reply = *registerReply_;
    } else {
        reply.assign(39, 0);
        reply[1] = request.data[1];
        reply[2] = request.data[2];
        std::memcpy(reply.data() + 7, name.data(), std::min<size_t>(name.size(), 31));
    }
    return {{replyPort, 0, reply}};
}

int32 RequestPortField(const ScriptedDevice::Request& request) {
    return request.data.size() >= 4 ? static_cast<int32>(BytesToUlong(request.data.data())) : -1;
}

std::string RequestPattern(const ScriptedDevice::Request& request) {
    if (request.data.size() <= 4) return "";
    const char* text = reinterpret_cast<const char*>(request.data.data() + 4);
    return std::string(text, strnlen(text, request.data.size() - 4));
}
