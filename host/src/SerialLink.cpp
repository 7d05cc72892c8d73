#include "host/SerialLink.h"

#include <chrono>
#include <cstdio>

#include "host/HostLink.h"
#include "platform/LinkRegisterWire.h"

namespace vantrel {

namespace {

// How long a connect answer and a server's reply may take before the request counts as lost.
constexpr bigtime_t kConnectTimeout = 10000000;
constexpr bigtime_t kReplyTimeout = 15000000;
// Pause before trying again after a refused or gone line.
constexpr bigtime_t kRetryPause = 1000000;
// A LINK register reply: code, opid(u16), status(i16), unused(u16), name.

std::chrono::microseconds Micros(bigtime_t t) { return std::chrono::microseconds(t); }

class RemoteSession : public handheld::Session {
public:
    RemoteSession(SerialLink& link, uint8 channel) : fLink(link), fChannel(channel) {}
    ~RemoteSession() override { fLink.CloseChannel(fChannel); }
    bool Handle(const uint8* packet, size_t size, handheld::Bytes& reply) override {
        return fLink.Request(fChannel, packet, size, reply);
    }

private:
    SerialLink& fLink;
    uint8 fChannel;
};

class RemoteHandheld : public handheld::Handheld {
public:
    RemoteHandheld(SerialLink& link, handheld::Family family) : fLink(link), fFamily(family) {}
    handheld::Family GetFamily() const override { return fFamily; }
    bool HasServer(const std::string&) override { return true; }
    std::unique_ptr<handheld::Session> Open(const std::string& server) override {
        return fLink.OpenSession(server);
    }
    void LinkDropped() override {}

private:
    SerialLink& fLink;
    handheld::Family fFamily;
};

bool Printable(const std::string& name) {
    for (char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    return true;
}

}  // namespace

SerialLink::SerialLink(HostLink& host, SerialLinkOptions options)
    : fHost(host), fOptions(std::move(options)) {}

SerialLink::~SerialLink() { Stop(); }

bool SerialLink::OpenPort(std::string& error) {
    uint32 first = fOptions.baud != 0 ? fOptions.baud : SearchSpeeds().front();
    if (!IsSupportedSpeed(first)) {
        error = "unsupported speed " + std::to_string(first);
        return false;
    }
    fPort = SerialPort::Open(fOptions.port, first, error, fOptions.modemLines);
    if (!fPort) return false;

    wire::EndpointOptions endpoint;
    endpoint.link.role = wire::Role::Desktop;
    endpoint.link.baud = first;
    endpoint.link.sendWindow = fOptions.sendWindow;
    endpoint.link.inactivity = fOptions.inactivity;
    endpoint.link.retransmitAfter = fOptions.retransmitAfter;
    endpoint.faults = fOptions.faults;
    endpoint.trace = [this](bool out, const std::string& line) {
        fHost.Trace().Record(out ? handheld::TraceDir::Out : handheld::TraceDir::In, 0,
                             handheld::TraceEvent::Frame, nullptr, 0, line);
    };
    wire::EndpointCallbacks callbacks;
    callbacks.up = [this](wire::Variant family, uint8 info) {
        std::lock_guard<std::mutex> guard(fLock);
        fUp = true;
        fFamily = family;
        fInfoSent = info;
        fChanged.notify_all();
    };
    callbacks.down = [this](wire::DownReason reason) {
        std::lock_guard<std::mutex> guard(fLock);
        fUp = false;
        fDownReason = reason;
        ++fGeneration;
        fAnswers.clear();
        fInbox.clear();
        fChanged.notify_all();
    };
    callbacks.event = [this](const wire::ChannelEvent& event) { OnEvent(event); };
    fEndpoint = std::make_unique<wire::LineEndpoint>(fPort->Fd(), std::move(endpoint),
                                                     std::move(callbacks));
    return true;
}

void SerialLink::Start() {
    fEndpoint->Start();
    fThread = std::thread([this] { Run(); });
}

void SerialLink::RequestStop() {
    fStop.store(true);
    std::lock_guard<std::mutex> guard(fLock);
    fChanged.notify_all();
}

void SerialLink::Stop() {
    RequestStop();
    if (fThread.joinable()) fThread.join();
    if (fEndpoint) {
        fEndpoint->Stop();
        fEndpoint.reset();
    }
    fPort.reset();
}

void SerialLink::Say(const std::string& line) {
    if (fOptions.quiet) return;
    printf("vantrel: %s\n", line.c_str());
    fflush(stdout);
}

bool SerialLink::IsUp() const {
    std::lock_guard<std::mutex> guard(fLock);
    return fHostUp;
}

bool SerialLink::WaitUp(bigtime_t timeout) {
    std::unique_lock<std::mutex> lock(fLock);
    return fChanged.wait_for(lock, Micros(timeout), [this] { return fHostUp; });
}

wire::LinkStats SerialLink::Stats() const {
    return fEndpoint ? fEndpoint->Stats() : wire::LinkStats();
}

std::string SerialLink::LastDrop() const {
    std::lock_guard<std::mutex> guard(fLock);
    return fLastDrop;
}

void SerialLink::Run() {
    while (!fStop.load()) {
        if (!Search()) continue;
        Serve();
    }
    // A clean end for the handheld: channels ended, then Disc.
    if (fEndpoint && fEndpoint->State() == wire::LinkState::Up) fEndpoint->Close();
    fHost.LinkDown();
}

bool SerialLink::Search() {
    std::vector<uint32> speeds =
        fOptions.baud != 0 ? std::vector<uint32>{fOptions.baud} : SearchSpeeds();
    for (uint32 speed : speeds) {
        if (fStop.load()) return false;
        if (!fPort->HandheldPresent()) {
            Say("no handheld on " + fOptions.port + " (DSR low): waiting...");
            while (!fStop.load() && !fPort->HandheldPresent())
                std::this_thread::sleep_for(Micros(kRetryPause / 2));
            return false;
        }
        fPort->SetSpeed(speed);
        fPort->Flush();
        fSpeed.store(speed);
        // Every speed is named on the first round; later rounds wait quietly.
        if (fQuietRounds == 0)
            Say("waiting for the handheld on " + fOptions.port + " at " + std::to_string(speed) +
                "...");
        fEndpoint->Open(speed);
        while (!fStop.load()) {
            wire::LinkState state = fEndpoint->State();
            if (state == wire::LinkState::Up) return true;
            if (state == wire::LinkState::Down) break;
            std::unique_lock<std::mutex> lock(fLock);
            fChanged.wait_for(lock, std::chrono::milliseconds(20));
        }
        if (fEndpoint->HungUp()) {
            Say("the line on " + fOptions.port + " is gone: trying again");
            std::this_thread::sleep_for(Micros(kRetryPause));
            return false;
        }
        if (fEndpoint->Reason() == wire::DownReason::Echo) {
            fEchoes.fetch_add(1);
            Say("refused: " + std::string(wire::DescribeDownReason(wire::DownReason::Echo)));
            std::this_thread::sleep_for(Micros(kRetryPause));
            return false;
        }
    }
    if (fQuietRounds++ == 0) Say("no answer at any speed yet: still waiting (is Remote link on?)");
    return false;
}

void SerialLink::Serve() {
    wire::Variant family;
    uint8 info;
    {
        // The up callback may trail the machine's state by a moment.
        std::unique_lock<std::mutex> lock(fLock);
        fChanged.wait_for(lock, std::chrono::seconds(1), [this] { return fUp; });
        family = fFamily;
        info = fInfoSent;
    }
    // The file service's framing follows the info version this desktop sent.
    handheld::Family hostFamily =
        info >= wire::kInfoSeries5Threshold ? handheld::Family::Series5 : handheld::Family::Series3;
    fQuietRounds = 0;
    Say(std::string(family == wire::Variant::Series5 ? "Series 5" : "Series 3") + " connected on " +
        fOptions.port + " at " + std::to_string(fSpeed.load()));
    fHost.UseDevice(std::make_unique<RemoteHandheld>(*this, hostFamily), hostFamily);
    status_t status = fHost.LinkUp();
    if (status != B_OK) {
        Say(std::string("link not up: ") + be_strerror(status));
        fEndpoint->Close();
        std::this_thread::sleep_for(Micros(kRetryPause));
        return;
    }
    fLinksMade.fetch_add(1);
    {
        std::lock_guard<std::mutex> guard(fLock);
        fHostUp = true;
        fChanged.notify_all();
    }
    std::string why;
    while (!fStop.load()) {
        if (!fPort->HandheldPresent()) {
            why = "the handheld is gone (DSR low)";
            fEndpoint->SetCut(true);  // nothing more goes out
            fEndpoint->Close();
            fEndpoint->SetCut(false);
            break;
        }
        if (fEndpoint->HungUp()) {
            why = "the line is gone";
            fEndpoint->Close();
            break;
        }
        wire::LinkState state = fEndpoint->State();
        if (state != wire::LinkState::Up) {
            wire::DownReason reason = fEndpoint->Reason();
            if (reason == wire::DownReason::RetriesExhausted)
                why = "no answer after " + std::to_string(wire::kMaxResends) + " tries";
            else
                why = wire::DescribeDownReason(reason);
            break;
        }
        std::unique_lock<std::mutex> lock(fLock);
        fChanged.wait_for(lock, std::chrono::milliseconds(100));
    }
    {
        // Requests still waiting for a reply give up now.
        std::lock_guard<std::mutex> guard(fLock);
        fHostUp = false;
        ++fGeneration;
        if (!why.empty()) fLastDrop = why;
        fChanged.notify_all();
    }
    if (fStop.load()) return;  // Run ends the session cleanly
    Say("link lost: " + why);
    fHost.LinkDown();
    Say("link down; listening for the handheld again");
}

void SerialLink::OnEvent(const wire::ChannelEvent& event) {
    std::lock_guard<std::mutex> guard(fLock);
    switch (event.kind) {
        case wire::ChannelEvent::Kind::ConnectAnswered:
            fAnswers[event.channel] = event.status;
            break;
        case wire::ChannelEvent::Kind::Message:
            fInbox[event.channel].push_back(event.bytes);
            break;
        case wire::ChannelEvent::Kind::Closed:
            fInbox[event.channel].clear();
            break;
        default:
            return;
    }
    fChanged.notify_all();
}

int SerialLink::ConnectNamed(const std::string& name, uint8& status) {
    uint32 generation;
    {
        std::lock_guard<std::mutex> guard(fLock);
        generation = fGeneration;
    }
    int channel = fEndpoint->Connect(name);
    if (channel < 0) return -1;
    uint8 ch = static_cast<uint8>(channel);
    std::unique_lock<std::mutex> lock(fLock);
    bool answered = fChanged.wait_for(lock, Micros(kConnectTimeout), [&] {
        return fGeneration != generation || fStop.load() ||
               (fAnswers.count(ch) && fAnswers[ch].has_value());
    });
    if (!answered || fGeneration != generation || !fAnswers.count(ch)) {
        lock.unlock();
        fEndpoint->CloseChannel(ch);
        return -1;
    }
    status = *fAnswers[ch];
    fAnswers.erase(ch);
    return status == wire::kConnectOk ? channel : -1;
}

bool SerialLink::StartThroughLink(const std::string& server, std::string& started) {
    // Register asks the LINK server to start a server by its name without the extension.
    std::string bare = server.substr(0, server.find('.'));
    uint16 opid;
    {
        std::lock_guard<std::mutex> guard(fLock);
        opid = fNextOpid++;
    }
    handheld::Bytes request{LINK_REGISTER, static_cast<uint8>(opid), static_cast<uint8>(opid >> 8)};
    request.insert(request.end(), bare.begin(), bare.end());
    request.push_back(0);
    handheld::Bytes reply;
    if (!Request(wire::kLinkChannel, request.data(), request.size(), reply)) return false;
    if (reply.size() < LINK_REPLY_STATUS + 2) return false;
    int16 status = static_cast<int16>(reply[LINK_REPLY_STATUS] | reply[LINK_REPLY_STATUS + 1] << 8);
    if (status != 0) return false;
    std::string name;
    for (size_t i = LINK_REPLY_NAME; i < reply.size() && reply[i] != 0; ++i)
        name.push_back(static_cast<char>(reply[i]));
    started = name.size() >= 4 && Printable(name) ? name : bare + ".*";
    return true;
}

std::unique_ptr<handheld::Session> SerialLink::OpenSession(const std::string& server) {
    std::string name = server + ".*";
    uint8 status = 0;
    int channel = ConnectNamed(name, status);
    if (channel < 0 && status == wire::kConnectNoServer) {
        std::string started;
        if (StartThroughLink(server, started)) channel = ConnectNamed(started, status);
    }
    if (channel < 0) return nullptr;
    return std::make_unique<RemoteSession>(*this, static_cast<uint8>(channel));
}

bool SerialLink::Request(uint8 channel, const uint8* data, size_t size, handheld::Bytes& reply) {
    uint32 generation;
    {
        std::lock_guard<std::mutex> guard(fLock);
        generation = fGeneration;
        fInbox[channel].clear();  // a late reply to an earlier request is not this one's
    }
    if (!fEndpoint->SendMessage(channel, data, size)) return false;
    std::unique_lock<std::mutex> lock(fLock);
    bool got = fChanged.wait_for(lock, Micros(kReplyTimeout), [&] {
        return fGeneration != generation || fStop.load() || !fInbox[channel].empty();
    });
    if (!got || fGeneration != generation || fInbox[channel].empty()) return false;
    reply = std::move(fInbox[channel].front());
    fInbox[channel].pop_front();
    return true;
}

void SerialLink::CloseChannel(uint8 channel) {
    if (fEndpoint) fEndpoint->CloseChannel(channel);
    std::lock_guard<std::mutex> guard(fLock);
    fInbox.erase(channel);
}

}  // namespace vantrel
