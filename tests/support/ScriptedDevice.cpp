#include "ScriptedDevice.h"

#include "platform/ByteOrder.h"
#include "platform/HostProtocol.h"

namespace {

constexpr bigtime_t kPoll = 5000;

// The pattern a connect request for the file service carries after its reply port.
Bytes FileServicePattern() {
    const char pattern[12] = "SYS$RFSV.*";
    return Bytes(pattern, pattern + sizeof(pattern));
}

}  // namespace

ScriptedDevice::Options ScriptedDevice::Host() {
    Options options;
    options.requestPortName = HOST_REQUEST_PORT_NAME;
    options.ownReplyPort = false;
    options.channel = 0;
    return options;
}

ScriptedDevice::ScriptedDevice(Options options) : options_(std::move(options)) {
    std::string name = options_.requestPortName;
    if (name.empty()) {
        static std::atomic<int> serial{0};
        name = "WritePsion-test-" + std::to_string(serial++);
    }
    requestPort_ = create_port(HOST_REPLY_PORT_CAPACITY, name.c_str());
    if (options_.ownReplyPort) {
        ownReplyPort_ = create_port(HOST_REPLY_PORT_CAPACITY, "Tavro-Read");
        sem_ = create_sem(1, "RFSV-NCP-Write");
    }
    thread_ = std::thread([this] { Run(); });
}

ScriptedDevice::~ScriptedDevice() {
    (void)Finish();
    if (ownReplyPort_ >= 0 && !replyPortGone_.exchange(true)) delete_port(ownReplyPort_);
    if (sem_ >= 0) delete_sem(sem_);
}

void ScriptedDevice::Add(Step step) {
    std::lock_guard<std::mutex> hold(lock_);
    script_.push_back(std::move(step));
}

void ScriptedDevice::Expect(uint16 channel, const Bytes& request, const Bytes& reply,
                            bigtime_t delay) {
    Step step;
    step.code = host_channel_packet(channel);
    step.request = request;
    step.replyCode = step.code;
    if (!reply.empty()) step.replies.push_back(reply);
    step.delay = delay;
    Add(std::move(step));
}

void ScriptedDevice::Expect(const Bytes& request, const Bytes& reply, bigtime_t delay) {
    Expect(kChannel, request, reply, delay);
}

void ScriptedDevice::ExpectSilence(uint16 channel, const Bytes& request) {
    Expect(channel, request, {});
}

void ScriptedDevice::ExpectSilence(const Bytes& request) { Expect(kChannel, request, {}); }

void ScriptedDevice::ExpectConnect(int32 replyCode, bool answer) {
    Step step;
    step.code = HOST_CONNECT_REQUEST;
    step.request = FileServicePattern();
    step.replyCode = replyCode;
    if (answer) step.replies.push_back(Bytes(16, 0xAA));  // a connect reply's data are not read
    Add(std::move(step));
}

void ScriptedDevice::SetHandler(Handler handler) {
    std::lock_guard<std::mutex> hold(lock_);
    handler_ = std::move(handler);
}

void ScriptedDevice::SetResponder(Responder responder) {
    SetHandler([responder = std::move(responder)](const Request& request) {
        std::vector<Message> out;
        if (std::optional<Bytes> reply = responder(request.data))
            out.push_back({-1, request.code, std::move(*reply)});
        return out;
    });
}

void ScriptedDevice::FaultReply(uint16 opcode, int nth, Fault fault, bigtime_t delay, size_t keep) {
    std::lock_guard<std::mutex> hold(lock_);
    faults_.push_back({opcode, nth, fault, delay, keep});
}

size_t ScriptedDevice::PendingFaults() {
    std::lock_guard<std::mutex> hold(lock_);
    return faults_.size();
}

bool ScriptedDevice::WaitUntilDone(bigtime_t timeout) {
    bigtime_t end = system_time() + timeout;
    for (;;) {
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (script_.empty()) return true;
        }
        if (system_time() >= end) return false;
        snooze(kPoll);
    }
}

size_t ScriptedDevice::WaitForRequests(size_t count) {
    bigtime_t end = system_time() + 5000000;
    for (;;) {
        size_t seen = RequestCount();
        if (seen >= count || system_time() >= end) return seen;
        snooze(kPoll);
    }
}

std::vector<ScriptedDevice::Request> ScriptedDevice::Requests() {
    std::lock_guard<std::mutex> hold(lock_);
    return requests_;
}

size_t ScriptedDevice::RequestCount() {
    std::lock_guard<std::mutex> hold(lock_);
    return requestCount_;
}

std::vector<std::string> ScriptedDevice::Failures() {
    std::lock_guard<std::mutex> hold(lock_);
    return failures_;
}

void ScriptedDevice::CutLink() {
    if (!requestPortGone_.exchange(true)) delete_port(requestPort_);
    if (ownReplyPort_ >= 0 && !replyPortGone_.exchange(true)) delete_port(ownReplyPort_);
}

std::vector<std::string> ScriptedDevice::Finish() {
    if (!requestPortGone_.exchange(true)) delete_port(requestPort_);
    if (thread_.joinable()) thread_.join();
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<std::string> out = failures_;
    if (!script_.empty())
        out.push_back("the device stopped before step " + std::to_string(stepsDone_));
    return out;
}

port_id ScriptedDevice::ReplyPort() {
    if (ownReplyPort_ >= 0) return ownReplyPort_;
    std::lock_guard<std::mutex> hold(lock_);
    return connectPort_;
}

MountBlockBytes ScriptedDevice::MountBlock(const char* device, const char* debugFile) {
    return MakeMountBlock(requestPort_, ReplyPort(), kChannel, sem_, device, "/mnt/psion/TEST",
                          debugFile);
}

void ScriptedDevice::Run() {
    for (;;) {
        ssize_t size = port_buffer_size(requestPort_);
        if (size < 0) return;  // the request port was deleted: the device is gone
        Request request{0, Bytes(static_cast<size_t>(size))};
        if (read_port(requestPort_, &request.code, request.data.data(), request.data.size()) < 0)
            return;
        bigtime_t delay = 0;
        std::vector<Message> replies = Answer(request, delay);
        if (replies.empty()) continue;
        if (delay > 0) snooze(delay);
        Send(replies);
    }
}

std::vector<ScriptedDevice::Message> ScriptedDevice::Answer(const Request& request,
                                                            bigtime_t& delay) {
    std::vector<Message> replies;
    std::lock_guard<std::mutex> hold(lock_);
    if (options_.keepRequests) requests_.push_back(request);
    requestCount_++;
    if (options_.channel != 0 && request.code != host_channel_packet(options_.channel))
        failures_.push_back("request on code " + std::to_string(request.code));

    if (!script_.empty()) {
        Step step = std::move(script_.front());
        script_.pop_front();
        std::string where = "step " + std::to_string(stepsDone_++) + ": ";
        const Bytes* compared = &request.data;
        Bytes pattern;
        if (step.code == HOST_CONNECT_REQUEST && request.code == HOST_CONNECT_REQUEST &&
            request.data.size() >= 4) {
            connectPort_ = static_cast<port_id>(BytesToUlong(request.data.data()));
            pattern.assign(request.data.begin() + 4, request.data.end());
            compared = &pattern;
        }
        if (request.code != step.code || *compared != step.request)
            failures_.push_back(where + "expected code " + std::to_string(step.code) + " " +
                                Hex(step.request) + "got code " + std::to_string(request.code) +
                                " " + Hex(request.data));
        for (Bytes& reply : step.replies) replies.push_back({-1, step.replyCode, std::move(reply)});
        delay = step.delay;
    } else if (handler_) {
        replies = handler_(request);
        if (request.data.size() >= 2) ApplyFault(BytesToUword(request.data.data()), replies, delay);
    } else {
        failures_.push_back("unexpected request on code " + std::to_string(request.code) + ": " +
                            Hex(request.data));
    }
    port_id replyPort = ownReplyPort_ >= 0 ? ownReplyPort_ : connectPort_;
    for (Message& message : replies)
        if (message.port < 0) message.port = replyPort;
    return replies;
}

void ScriptedDevice::ApplyFault(uint16 opcode, std::vector<Message>& replies, bigtime_t& delay) {
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (it->opcode != opcode || --it->countdown > 0) continue;
        for (Message& reply : replies) {
            Bytes& data = reply.data;
            switch (it->fault) {
                case Fault::Lost:
                    break;
                case Fault::Late:
                    delay = it->delay;
                    break;
                case Fault::Truncated:
                    if (data.size() > it->keep) data.resize(it->keep);
                    break;
                case Fault::Garbage:
                    for (size_t i = 0; i < data.size(); i++)
                        data[i] = static_cast<uint8>(data[i] * 29 + 101 + i);
                    break;
            }
        }
        if (it->fault == Fault::Lost) replies.clear();
        faults_.erase(it);
        return;
    }
}

void ScriptedDevice::Send(const std::vector<Message>& messages) {
    for (const Message& message : messages)
        (void)write_port(message.port, message.code, message.data.data(), message.data.size());
}
