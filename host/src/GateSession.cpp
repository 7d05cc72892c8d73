#include "GateSession.h"

#include <unistd.h>

namespace vantrel::gate {

GateSession::GateSession(int number, int fd, SessionContext context)
    : fNumber(number), fFd(fd), fContext(std::move(context)) {}

GateSession::~GateSession() {
    if (fWorker.joinable()) fWorker.join();
    if (fFd >= 0) close(fFd);
}

void GateSession::StartWorker() {
    fWorker = std::thread([this] { Work(); });
}

void GateSession::Received(const char* bytes, size_t size) {
    fInput.append(bytes, size);
    size_t start = 0;
    for (;;) {
        size_t end = fInput.find('\n', start);
        if (end == std::string::npos) break;
        if (fSkippingLongLine)
            fSkippingLongLine = false;
        else
            Line(std::string_view(fInput).substr(start, end - start));
        start = end + 1;
    }
    fInput.erase(0, start);
    if (fInput.size() > kMaxLineBytes) {
        if (!fSkippingLongLine) {
            Post(ErrorReply(
                "null", error::kTooLarge,
                "request line longer than " + std::to_string(kMaxLineBytes) + " bytes; skipped"));
            fSkippingLongLine = true;
        }
        fInput.clear();
    }
}

void GateSession::Line(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find_first_not_of(" \t") == std::string_view::npos) return;
    Decoded decoded = DecodeRequest(line);
    if (!decoded.ok) {
        Post(ErrorReply(decoded.request.id, decoded.errorCode, decoded.errorText));
        return;
    }
    std::unique_lock<std::mutex> lock(fLock);
    if (fClosing) return;
    if (fRequests.size() >= fContext.maxPending) {
        lock.unlock();
        Post(ErrorReply(decoded.request.id, error::kBusy,
                        std::to_string(fContext.maxPending) +
                            " requests are already waiting; this one was not carried out"));
        return;
    }
    fRequests.push_back(std::move(decoded.request));
    fWork.notify_one();
}

bool GateSession::HasOutput() {
    std::lock_guard<std::mutex> guard(fLock);
    return !fOutput.empty();
}

std::string_view GateSession::PendingOutput() {
    std::lock_guard<std::mutex> guard(fLock);
    if (fOutput.empty()) return {};
    // The front string stays put until Written removes it, and only this thread removes.
    return std::string_view(fOutput.front()).substr(fFrontWritten);
}

void GateSession::Written(size_t size) {
    std::lock_guard<std::mutex> guard(fLock);
    fFrontWritten += size;
    if (!fOutput.empty() && fFrontWritten >= fOutput.front().size()) {
        fOutputBytes -= fOutput.front().size();
        fOutput.pop_front();
        fFrontWritten = 0;
    }
}

void GateSession::Post(std::string line) {
    {
        std::lock_guard<std::mutex> guard(fLock);
        if (fClosing || fOverflowed.load()) return;
        if (fOutputBytes + line.size() > fContext.maxOutput) {
            fOverflowed.store(true);
        } else {
            fOutputBytes += line.size();
            fOutput.push_back(std::move(line));
        }
    }
    fContext.wake();
}

void GateSession::LinkDropped() {
    std::vector<uint16> closed;
    {
        std::lock_guard<std::mutex> guard(fLock);
        for (const auto& [chan, open] : fChannels) closed.push_back(chan);
        fChannels.clear();
    }
    Post(LinkEvent(false, closed));
}

void GateSession::LinkCameUp() { Post(LinkEvent(true, {})); }

void GateSession::Close() {
    std::lock_guard<std::mutex> guard(fLock);
    fClosing = true;
    fRequests.clear();
    fOutput.clear();
    fOutputBytes = 0;
    fFrontWritten = 0;
    fWork.notify_one();
}

void GateSession::Join() {
    if (fWorker.joinable()) fWorker.join();
}

int GateSession::TakeFd() {
    int fd = fFd;
    fFd = -1;
    return fd;
}

void GateSession::Work() {
    for (;;) {
        Request request;
        {
            std::unique_lock<std::mutex> lock(fLock);
            fWork.wait(lock, [this] { return fClosing || !fRequests.empty(); });
            if (fClosing) break;
            request = std::move(fRequests.front());
            fRequests.pop_front();
        }
        Post(Handle(request));
    }
    // The client is gone: so are its channels.
    std::map<uint16, std::pair<GateChannel, std::string>> channels;
    {
        std::lock_guard<std::mutex> guard(fLock);
        channels.swap(fChannels);
    }
    for (const auto& [chan, open] : channels) (void)fContext.forwarder.Disconnect(open.first);
    fFinished.store(true);
    fContext.wake();
}

std::string GateSession::Handle(const Request& request) {
    switch (request.op) {
        case Op::Connect:
            return HandleConnect(request);
        case Op::Send:
            return HandleSend(request);
        case Op::Disconnect:
            return HandleDisconnect(request);
        case Op::Channels:
            return HandleChannels(request);
        case Op::Link:
            return LinkReply(request.id, fContext.linkUp());
    }
    return ErrorReply(request.id, error::kUnknownOp, "unknown operation");
}

namespace {

std::string NoGateway(const std::string& id) {
    return ErrorReply(id, error::kNoGateway,
                      "the gateway add-on (linkgate) is not loaded or has not started yet");
}

std::string LinkIsDown(const std::string& id, const char* what) {
    return ErrorReply(id, error::kLinkDown, std::string("the link to the handheld is down") + what);
}

}  // namespace

std::string GateSession::HandleConnect(const Request& request) {
    if (!fContext.linkUp()) return LinkIsDown(request.id, "");
    uint64_t drops = fContext.linkDrops.load();
    GateChannel channel;
    status_t status = fContext.forwarder.Connect(request.server, channel);
    if (status == B_NAME_NOT_FOUND) return NoGateway(request.id);
    if (fContext.linkDrops.load() != drops)
        return LinkIsDown(request.id, "; no channel was opened");
    if (status == B_TIMED_OUT)
        return ErrorReply(request.id, error::kFailed, "the gateway did not answer in time");
    if (status != B_OK)
        return ErrorReply(
            request.id, error::kUnreachable,
            "server " + request.server + " did not answer (it may not exist on the handheld)");
    std::unique_lock<std::mutex> lock(fLock);
    // A drop between the answer and here took the channel with it.
    if (fContext.linkDrops.load() != drops) {
        lock.unlock();
        return LinkIsDown(request.id, "; no channel was opened");
    }
    fChannels[channel.chan] = {channel, request.server};
    return ConnectReply(request.id, channel.chan, request.server);
}

std::string GateSession::OwnChannel(const Request& request, bool forget, GateChannel& channel) {
    std::lock_guard<std::mutex> guard(fLock);
    auto it = fChannels.find(static_cast<uint16>(request.channel));
    if (it == fChannels.end())
        return ErrorReply(
            request.id, error::kNotYourChannel,
            "channel " + std::to_string(request.channel) + " is not open on this connection");
    channel = it->second.first;
    if (forget) fChannels.erase(it);
    return "";
}

std::string GateSession::HandleSend(const Request& request) {
    GateChannel channel;
    std::string refused = OwnChannel(request, false, channel);
    if (!refused.empty()) return refused;
    uint64_t drops = fContext.linkDrops.load();
    PacketBytes reply;
    status_t status = fContext.forwarder.Command(channel, request.packet, reply);
    if (status == B_NAME_NOT_FOUND) return NoGateway(request.id);
    if (status != B_OK) {
        const char* doubt = "; the command may or may not have been carried out";
        if (fContext.linkDrops.load() != drops) return LinkIsDown(request.id, doubt);
        return ErrorReply(request.id, error::kFailed,
                          std::string(status == B_TIMED_OUT ? "the gateway did not answer in time"
                                                            : "no reply from the server") +
                              doubt);
    }
    return SendReply(request.id, reply, request.encoding);
}

std::string GateSession::HandleDisconnect(const Request& request) {
    GateChannel channel;
    std::string refused = OwnChannel(request, true, channel);
    if (!refused.empty()) return refused;
    status_t status = fContext.forwarder.Disconnect(channel);
    if (status == B_NAME_NOT_FOUND) return NoGateway(request.id);
    return DisconnectReply(request.id, channel.chan);
}

std::string GateSession::HandleChannels(const Request& request) {
    std::vector<OpenChannel> list;
    {
        std::lock_guard<std::mutex> guard(fLock);
        for (const auto& [chan, open] : fChannels) list.push_back({chan, open.second});
    }
    return ChannelsReply(request.id, list);
}

}  // namespace vantrel::gate
