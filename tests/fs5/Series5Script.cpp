#include "Series5Script.h"

#include <algorithm>
#include <cstring>

#include "platform/ByteOrder.h"
#include "platform/HostProtocol.h"

Series5Script::Series5Script() {
    requestPort = create_port(50, "WritePsion");
    replyPort = create_port(50, "Tavro-Read");
    sem = create_sem(1, "RFSV-NCP-Write");
    thread_ = std::thread([this] { Run(); });
}

Series5Script::~Series5Script() {
    stop_ = true;
    thread_.join();
    delete_port(requestPort);
    delete_port(replyPort);
    delete_sem(sem);
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
    (void)write_port(port >= 0 ? port : replyPort, 0x11, reply.data(), reply.size());
}

MountBlockBytes Series5Script::MountBlock(const char* device, const char* debugFile) const {
    return MakeMountBlock(requestPort, replyPort, kChannel, sem, device, "", debugFile);
}

void Series5Script::Run() {
    std::vector<uint8> buffer(8192);
    while (!stop_) {
        int32 code;
        ssize_t size =
            read_port_etc(requestPort, &code, buffer.data(), buffer.size(), B_TIMEOUT, 20000);
        if (size == B_TIMED_OUT) continue;
        if (size < 0) break;
        s5::Bytes request(buffer.begin(), buffer.begin() + size);
        if (code == HOST_CONNECT_REQUEST) {
            if (request.size() < 4) continue;
            port_id port = static_cast<port_id>(BytesToUlong(request.data()));
            uint16 channel;
            {
                std::lock_guard<std::mutex> hold(lock_);
                channel = nextChannel_++;
                sessions_[channel] = port;
                latestPort_ = port;
                begun_++;
            }
            (void)write_port(port, HOST_CONNECT_REPLY + channel, nullptr, 0);
            continue;
        }
        if ((code & HOST_CODE_KIND_MASK) == HOST_DISCONNECT_REQUEST) {
            // Under the lock, so that whoever sees the session gone sees its handles gone.
            std::lock_guard<std::mutex> hold(lock_);
            if (sessions_.erase(host_code_channel(code)) != 0 && endHandler_)
                endHandler_(host_code_channel(code));
            continue;
        }
        std::optional<s5::Bytes> reply;
        port_id to = -1;
        {
            std::lock_guard<std::mutex> hold(lock_);
            uint16 channel = host_code_channel(code);
            auto session = sessions_.find(channel);
            bool open = (code & HOST_CODE_KIND_MASK) == HOST_CHANNEL_PACKET &&
                        (session != sessions_.end() || channel == kChannel);
            if (!open) continue;
            requests_.push_back(request);
            to = session != sessions_.end() ? session->second : replyPort;
            current_ = channel;
            if (handler_) reply = handler_(request);
        }
        if (reply) (void)write_port(to, 0x11, reply->data(), reply->size());
    }
}
