#include "ScriptedDevice.h"

#include <cstdio>
#include <cstring>

#include "platform/ByteOrder.h"
#include "platform/HostProtocol.h"

namespace {

constexpr bigtime_t kStepTimeout = 30000000;
constexpr size_t kMaxMessage = 4096;

}  // namespace

ScriptedDevice::ScriptedDevice() : port(create_port(HOST_REPLY_PORT_CAPACITY, "WritePsion")) {}

ScriptedDevice::~ScriptedDevice() { (void)Finish(); }

void ScriptedDevice::ExpectConnect(int32 replyCode, bool answer) {
    Step step;
    step.code = HOST_CONNECT_REQUEST;
    const char pattern[12] = "SYS$RFSV.*";
    step.request.assign(pattern, pattern + sizeof(pattern));
    step.answer = answer;
    step.replyCode = replyCode;
    step.replies.push_back(Bytes(16, 0xAA));  // data of a connect reply is not looked at
    Add(step);
}

void ScriptedDevice::Expect(uint16 channel, Bytes request, Bytes reply, bigtime_t delay) {
    Step step;
    step.code = host_channel_packet(channel);
    step.request = std::move(request);
    step.replyCode = host_channel_packet(channel);
    step.answer = !reply.empty();
    step.replies.push_back(std::move(reply));
    step.delay = delay;
    Add(step);
}

void ScriptedDevice::ExpectSilence(uint16 channel, Bytes request) {
    Expect(channel, std::move(request), {});
}

void ScriptedDevice::Add(Step step) { steps.push_back(std::move(step)); }

void ScriptedDevice::Start() {
    thread = std::thread([this] { Run(); });
}

port_id ScriptedDevice::ReplyPort() const {
    std::lock_guard<std::mutex> guard(lock);
    return replyPort;
}

void ScriptedDevice::Fail(std::string what) {
    std::lock_guard<std::mutex> guard(lock);
    errors.push_back(std::move(what));
}

void ScriptedDevice::Run() {
    std::vector<uint8> buffer(kMaxMessage);
    for (size_t index = 0;; index++) {
        int32 code = 0;
        // Beyond the script the device keeps listening, so that extra requests are seen.
        ssize_t size =
            read_port_etc(port, &code, buffer.data(), buffer.size(), B_TIMEOUT, kStepTimeout);
        if (size == B_BAD_PORT_ID) {
            if (index < steps.size()) {
                Fail("device stopped before step " + std::to_string(index));
            }
            return;
        }
        if (size < 0) {
            if (index < steps.size()) {
                Fail("no request for step " + std::to_string(index));
            }
            return;
        }
        Bytes got(buffer.begin(), buffer.begin() + size);
        if (index >= steps.size()) {
            Fail("request beyond the script: code " + std::to_string(code) + " " + Hex(got));
            continue;
        }
        const Step& step = steps[index];
        std::string where = "step " + std::to_string(index) + ": ";
        port_id answerPort;
        if (step.code == HOST_CONNECT_REQUEST) {
            if (code != HOST_CONNECT_REQUEST || got.size() != 16) {
                Fail(where + "expected a 16-byte connect request, got code " +
                     std::to_string(code) + " " + Hex(got));
            } else {
                std::lock_guard<std::mutex> guard(lock);
                replyPort = static_cast<port_id>(BytesToUlong(got.data()));
                Bytes pattern(got.begin() + 4, got.end());
                if (pattern != step.request) {
                    errors.push_back(where + "connect pattern " + Hex(pattern));
                }
            }
        } else if (code != step.code || got != step.request) {
            Fail(where + "expected code " + std::to_string(step.code) + " " + Hex(step.request) +
                 ", got code " + std::to_string(code) + " " + Hex(got));
        }
        {
            std::lock_guard<std::mutex> guard(lock);
            answerPort = replyPort;
        }
        if (step.answer) {
            if (step.delay > 0) {
                snooze(step.delay);
            }
            for (const Bytes& reply : step.replies) {
                write_port(answerPort, step.replyCode, reply.data(), reply.size());
            }
        }
        std::lock_guard<std::mutex> guard(lock);
        done = index + 1;
    }
}

bool ScriptedDevice::WaitUntilDone(bigtime_t timeout) {
    bigtime_t end = system_time() + timeout;
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(lock);
            if (done >= steps.size()) {
                return true;
            }
        }
        if (system_time() >= end) {
            return false;
        }
        snooze(10000);
    }
}

std::vector<std::string> ScriptedDevice::Finish() {
    if (port >= 0) {
        delete_port(port);
        port = -1;
    }
    if (thread.joinable()) {
        thread.join();
    }
    std::lock_guard<std::mutex> guard(lock);
    return errors;
}

Bytes SiboReply(int16 status, const Bytes& data) {
    Bytes reply(6);
    WordToBytes(0x11, reply.data());
    WordToBytes(static_cast<uint16>(2 + data.size()), reply.data() + 2);
    WordToBytes(static_cast<uint16>(status), reply.data() + 4);
    reply.insert(reply.end(), data.begin(), data.end());
    return reply;
}

Bytes DeviceReadReply(const std::string& device) {
    Bytes data(64, 0x20);  // reply offsets 6 to 69: fields the client does not read
    data.insert(data.end(), device.begin(), device.end());
    data.push_back(0);
    return SiboReply(0, data);
}

Bytes DeviceInfoReply(const std::string& volume) {
    Bytes data(14, 0);                     // reply offsets 6 to 19
    WordToBytes(0x0002, data.data() + 2);  // media type at 8
    LongToBytes(0x40000, data.data() + 6);
    LongToBytes(0x20000, data.data() + 10);
    data.insert(data.end(), volume.begin(), volume.end());
    data.push_back(0);
    return SiboReply(0, data);
}

Bytes Word(uint16 value) {
    Bytes bytes(2);
    WordToBytes(value, bytes.data());
    return bytes;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string Hex(const Bytes& bytes) {
    std::string text;
    char digits[4];
    for (uint8 byte : bytes) {
        snprintf(digits, sizeof(digits), "%02x ", byte);
        text += digits;
    }
    return text;
}
