#include "ScriptedDevice.h"

#include <cstdio>
#include <cstring>

#include "platform/ByteOrder.h"
#include "platform/HostProtocol.h"

Bytes Packet(uint16 opcode, const Bytes& payload) {
    Bytes out(4);
    WordToBytes(opcode, out.data());
    WordToBytes(static_cast<uint16>(payload.size()), out.data() + 2);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

Bytes PathBytes(const std::string& path) {
    Bytes out(path.begin(), path.end());
    out.push_back(0);
    return out;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes Reply(int16 status, const Bytes& data) {
    Bytes out(6);
    WordToBytes(0x2A, out.data());
    WordToBytes(static_cast<uint16>(2 + data.size()), out.data() + 2);
    WordToBytes(static_cast<uint16>(status), out.data() + 4);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Bytes Sealed(Bytes reply) {
    if (reply.size() >= 4) WordToBytes(static_cast<uint16>(reply.size() - 4), reply.data() + 2);
    return reply;
}

Bytes Entry(uint16 attributes, uint32 size, uint32 mtime, const char* name) {
    Bytes out(16, 0);
    WordToBytes(attributes, out.data() + 2);
    LongToBytes(size, out.data() + 4);
    LongToBytes(mtime, out.data() + 8);
    if (name != nullptr) {
        out.insert(out.end(), name, name + strlen(name));
        out.push_back(0);
    }
    return out;
}

std::string Hex(const Bytes& bytes) {
    std::string out;
    char cell[4];
    for (uint8 b : bytes) {
        snprintf(cell, sizeof cell, "%02x ", b);
        out += cell;
    }
    return out;
}

ScriptedDevice::ScriptedDevice() {
    static std::atomic<int> serial{0};
    std::string name = "WritePsion-test-" + std::to_string(serial++);
    requestPort = create_port(HOST_REPLY_PORT_CAPACITY, name.c_str());
    replyPort = create_port(HOST_REPLY_PORT_CAPACITY, "Tavro-Read");
    sem = create_sem(1, "RFSV-NCP-Write");
    thread_ = std::thread([this] { Run(); });
}

ScriptedDevice::~ScriptedDevice() {
    stop_ = true;
    thread_.join();
    delete_port(requestPort);
    delete_port(replyPort);
    delete_sem(sem);
}

void ScriptedDevice::Expect(const Bytes& request, const Bytes& reply, bigtime_t delay) {
    std::lock_guard<std::mutex> hold(lock_);
    script_.push_back({request, reply, delay});
}

void ScriptedDevice::ExpectSilence(const Bytes& request) {
    std::lock_guard<std::mutex> hold(lock_);
    script_.push_back({request, std::nullopt, 0});
}

void ScriptedDevice::SetResponder(std::function<std::optional<Bytes>(const Bytes&)> responder) {
    std::lock_guard<std::mutex> hold(lock_);
    responder_ = std::move(responder);
}

void ScriptedDevice::FaultReply(uint16 opcode, int nth, Fault fault, bigtime_t delay,
                                 size_t keep) {
    std::lock_guard<std::mutex> hold(lock_);
    faults_.push_back({opcode, nth, fault, delay, keep});
}

size_t ScriptedDevice::PendingFaults() {
    std::lock_guard<std::mutex> hold(lock_);
    return faults_.size();
}

bool ScriptedDevice::WaitScriptDone() {
    for (int i = 0; i < 200; i++) {
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (script_.empty()) return true;
        }
        snooze(5000);
    }
    return false;
}

std::vector<Bytes> ScriptedDevice::Requests() {
    std::lock_guard<std::mutex> hold(lock_);
    return requests_;
}

size_t ScriptedDevice::RequestCount() {
    std::lock_guard<std::mutex> hold(lock_);
    return requests_.size();
}

std::vector<std::string> ScriptedDevice::Failures() {
    std::lock_guard<std::mutex> hold(lock_);
    return failures_;
}

void ScriptedDevice::CutLink() {
    delete_port(requestPort);
    delete_port(replyPort);
}

std::array<uint8, 408> ScriptedDevice::MountBlock(const char* device, const char* debugFile) const {
    std::array<uint8, 408> block{};
    block[0] = 1;  // mounted
    LongToBytes(static_cast<uint32>(requestPort), &block[4]);
    LongToBytes(static_cast<uint32>(replyPort), &block[8]);
    WordToBytes(kChannel, &block[12]);
    LongToBytes(static_cast<uint32>(sem), &block[16]);
    memcpy(&block[20], device, strlen(device));
    const char* path = "/mnt/psion/TEST";
    memcpy(&block[148], path, strlen(path));
    memcpy(&block[276], debugFile, strlen(debugFile));
    return block;
}

void ScriptedDevice::Run() {
    std::vector<uint8> buffer(4096);
    while (!stop_) {
        int32 code;
        ssize_t size =
            read_port_etc(requestPort, &code, buffer.data(), buffer.size(), B_TIMEOUT, 20000);
        if (size == B_TIMED_OUT) continue;
        if (size < 0) break;  // the link was cut
        Bytes request(buffer.begin(), buffer.begin() + size);
        std::optional<Bytes> reply;
        bigtime_t delay = 0;
        {
            std::lock_guard<std::mutex> hold(lock_);
            requests_.push_back(request);
            if (code != host_channel_packet(kChannel))
                failures_.push_back("request on code " + std::to_string(code));
            if (!script_.empty()) {
                Exchange next = script_.front();
                script_.pop_front();
                if (next.request != request)
                    failures_.push_back("expected " + Hex(next.request) + "got " + Hex(request));
                reply = next.reply;
                delay = next.delay;
            } else if (responder_) {
                reply = responder_(request);
                uint16 opcode = request.size() >= 2 ? BytesToUword(request.data()) : 0xFFFF;
                for (auto it = faults_.begin(); it != faults_.end(); ++it) {
                    if (it->opcode != opcode || --it->countdown > 0) continue;
                    if (reply) {
                        switch (it->fault) {
                            case Fault::Lost:
                                reply.reset();
                                break;
                            case Fault::Late:
                                delay = it->delay;
                                break;
                            case Fault::Truncated:
                                if (reply->size() > it->keep) reply->resize(it->keep);
                                break;
                            case Fault::Garbage:
                                for (size_t i = 0; i < reply->size(); i++)
                                    (*reply)[i] = static_cast<uint8>((*reply)[i] * 29 + 101 + i);
                                break;
                        }
                    }
                    faults_.erase(it);
                    break;
                }
            } else {
                failures_.push_back("unexpected " + Hex(request));
            }
        }
        if (!reply) continue;
        if (delay > 0) snooze(delay);
        if (write_port(replyPort, 0x2A, reply->data(), reply->size()) < 0) break;
    }
}
