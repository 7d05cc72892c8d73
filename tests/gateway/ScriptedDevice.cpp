#include "ScriptedDevice.h"

#include <chrono>
#include <cstring>

#include "platform/ByteOrder.h"
#include "platform/HostProtocol.h"

ScriptedDevice::ScriptedDevice() : fPort(create_port(50, HOST_REQUEST_PORT_NAME)) {
    fThread = std::thread([this] { Serve(); });
}

ScriptedDevice::~ScriptedDevice() {
    delete_port(fPort);
    fThread.join();
}

void ScriptedDevice::SetServer(const std::string& name, Answer answer) {
    std::lock_guard guard(fLock);
    fServers[name] = answer;
}

void ScriptedDevice::SetCommandReply(const std::string& name, std::vector<uint8> reply) {
    std::lock_guard guard(fLock);
    fCommandReplies[name] = std::move(reply);
}

void ScriptedDevice::SetRegisterReply(std::vector<uint8> reply) {
    std::lock_guard guard(fLock);
    fRegisterReply = std::move(reply);
}

void ScriptedDevice::SetRegisterUnanswered(bool unanswered) {
    std::lock_guard guard(fLock);
    fRegisterUnanswered = unanswered;
}

void ScriptedDevice::SetSilent(bool silent) {
    std::lock_guard guard(fLock);
    fSilent = silent;
}

void ScriptedDevice::SetFixedChannel(std::optional<uint16> chan) {
    std::lock_guard guard(fLock);
    fFixedChannel = chan;
}

std::vector<ScriptedDevice::Request> ScriptedDevice::Requests() {
    std::lock_guard guard(fLock);
    return fRequests;
}

size_t ScriptedDevice::WaitForRequests(size_t count) {
    std::unique_lock held(fLock);
    fChanged.wait_for(held, std::chrono::seconds(5), [&] { return fRequests.size() >= count; });
    return fRequests.size();
}

uint16 ScriptedDevice::ChannelOf(const std::string& name) {
    std::lock_guard guard(fLock);
    auto it = fLastChannel.find(name);
    return it == fLastChannel.end() ? 0 : it->second;
}

void ScriptedDevice::Serve() {
    for (;;) {
        ssize_t size = port_buffer_size(fPort);
        if (size < 0) return;  // "WritePsion" deleted: the device is gone
        Request request{0, std::vector<uint8>(static_cast<size_t>(size))};
        ssize_t got = read_port(fPort, &request.code, request.data.data(), request.data.size());
        if (got < 0) return;
        {
            std::lock_guard guard(fLock);
            fRequests.push_back(request);
        }
        fChanged.notify_all();
        Handle(request);
    }
}

void ScriptedDevice::Send(port_id port, int32 code, const std::vector<uint8>& data) {
    (void)write_port(port, code, data.data(), data.size());
}

void ScriptedDevice::Handle(const Request& request) {
    std::unique_lock held(fLock);
    if (fSilent) return;
    int32 kind = request.code & HOST_CODE_KIND_MASK;
    if (request.code == HOST_CONNECT_REQUEST) {
        if (request.data.size() < 5) return;
        std::string pattern = RequestPattern(request);
        if (pattern.size() < 2 || pattern.compare(pattern.size() - 2, 2, ".*") != 0) return;
        std::string name = pattern.substr(0, pattern.size() - 2);
        bool answers = name == "LINK";
        auto server = fServers.find(name);
        if (server != fServers.end()) {
            answers = server->second == Answer::kAtOnce ||
                      (server->second == Answer::kAfterRegister && fRegistered.count(name) > 0);
        }
        if (!answers) return;
        uint16 chan = fFixedChannel ? *fFixedChannel : fNextChannel++;
        port_id replyPort = RequestPortField(request);
        fChannels[chan] = Channel{name, replyPort};
        fLastChannel[name] = chan;
        held.unlock();
        Send(replyPort, HOST_CONNECT_REPLY + chan, {});
        return;
    }
    if (kind != HOST_CHANNEL_PACKET) return;  // disconnects are only recorded

    auto channel = fChannels.find(host_code_channel(request.code));
    if (channel == fChannels.end()) return;
    port_id replyPort = channel->second.replyPort;
    std::vector<uint8> reply;
    if (channel->second.name == "LINK") {
        // Register request: command, check value, NUL-terminated name.
        if (request.data.size() < 4 || request.data[0] != 0x00) return;
        std::string name(reinterpret_cast<const char*>(request.data.data() + 3),
                         strnlen(reinterpret_cast<const char*>(request.data.data() + 3),
                                 request.data.size() - 3));
        fRegistered.insert(name);
        if (fRegisterUnanswered) return;
        if (fRegisterReply) {
            reply = *fRegisterReply;
        } else {
            reply.assign(39, 0);
            reply[1] = request.data[1];
            reply[2] = request.data[2];
            std::memcpy(reply.data() + 7, name.data(), std::min<size_t>(name.size(), 31));
        }
    } else {
        auto script = fCommandReplies.find(channel->second.name);
        if (script == fCommandReplies.end()) return;
        reply = script->second;
    }
    held.unlock();
    Send(replyPort, 0, reply);
}

int32 RequestPortField(const ScriptedDevice::Request& request) {
    return request.data.size() >= 4 ? static_cast<int32>(BytesToUlong(request.data.data())) : -1;
}

std::string RequestPattern(const ScriptedDevice::Request& request) {
    if (request.data.size() <= 4) return "";
    const char* text = reinterpret_cast<const char*>(request.data.data() + 4);
    return std::string(text, strnlen(text, request.data.size() - 4));
}
