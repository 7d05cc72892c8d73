#include "Series5Script.h"

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
    (void)write_port(replyPort, 0x11, reply.data(), reply.size());
}

std::array<uint8, 408> Series5Script::MountBlock(const char* device) const {
    std::array<uint8, 408> block{};
    block[0] = 1;
    LongToBytes(static_cast<uint32>(requestPort), &block[4]);
    LongToBytes(static_cast<uint32>(replyPort), &block[8]);
    WordToBytes(kChannel, &block[12]);
    LongToBytes(static_cast<uint32>(sem), &block[16]);
    memcpy(&block[20], device, strlen(device));
    return block;
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
        std::optional<s5::Bytes> reply;
        {
            std::lock_guard<std::mutex> hold(lock_);
            requests_.push_back(request);
            if (code == host_channel_packet(kChannel) && handler_) reply = handler_(request);
        }
        if (reply) (void)write_port(replyPort, 0x11, reply->data(), reply->size());
    }
}
