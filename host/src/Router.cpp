#include "Router.h"

#include <chrono>
#include <cstring>

#include "host/HostLink.h"
#include "platform/ByteOrder.h"
#include "platform/HostProtocol.h"

namespace vantrel {

using handheld::Bytes;
using handheld::FaultDecision;
using handheld::TraceDir;
using handheld::TraceEvent;

namespace {

// A caller whose reply port stays full this long loses the reply rather than stall the link.
constexpr bigtime_t kReplyWriteTimeout = 200000;

bigtime_t Now() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

Router::Router(HostLink& host, port_id requestPort, handheld::Handheld& device,
               handheld::PacketTrace& trace, handheld::FaultInjector& faults,
               handheld::LinkSpeed speed)
    : fHost(host),
      fRequestPort(requestPort),
      fDevice(device),
      fTrace(trace),
      fFaults(faults),
      fSpeed(speed) {}

Router::~Router() {
    Join();
    CloseConnections();
}

void Router::Start() {
    fThread = std::thread([this] { Run(); });
    fDelayedThread = std::thread([this] { RunDelayed(); });
}

void Router::Join() {
    if (fThread.joinable()) fThread.join();
    {
        std::lock_guard<std::mutex> guard(fDelayedLock);
        fStopping = true;
    }
    fDelayedChanged.notify_all();
    if (fDelayedThread.joinable()) fDelayedThread.join();
}

void Router::CloseConnections() {
    {
        std::lock_guard<std::mutex> guard(fDelayedLock);
        fDelayed.clear();
    }
    std::map<uint16, Connection> connections;
    {
        std::lock_guard<std::mutex> guard(fLock);
        connections.swap(fConnections);
    }
    for (auto& [channel, connection] : connections) delete_port(connection.replyPort);
    // Sessions close their device handles as they go.
    connections.clear();
}

size_t Router::OpenChannels() const {
    std::lock_guard<std::mutex> guard(fLock);
    return fConnections.size();
}

void Router::WaitWire(size_t bytes) {
    bigtime_t wait = fSpeed.WireTime(bytes);
    if (wait > 0) std::this_thread::sleep_for(std::chrono::microseconds(wait));
}

void Router::Run() {
    Bytes message;
    for (;;) {
        ssize_t size = port_buffer_size(fRequestPort);
        if (size == B_BAD_PORT_ID) break;
        if (size < 0) continue;
        message.resize(static_cast<size_t>(size) + 1);
        int32 code = 0;
        ssize_t got = read_port(fRequestPort, &code, message.data(), message.size());
        if (got == B_BAD_PORT_ID) break;
        if (got < 0) continue;
        message.resize(static_cast<size_t>(got));
        Dispatch(code, message);
    }
}

void Router::Dispatch(int32 code, const Bytes& message) {
    int32 kind = code & HOST_CODE_KIND_MASK;
    uint16 channel = host_code_channel(code);
    if (code == HOST_CONNECT_REQUEST) {
        HandleConnect(message);
    } else if (kind == HOST_CHANNEL_PACKET && channel != 0 && (code & ~0xFFFFFF) == 0) {
        HandlePacket(channel, message);
    } else if (kind == HOST_DISCONNECT_REQUEST && channel != 0 && (code & ~0xFFFFFF) == 0) {
        HandleDisconnect(channel);
    } else {
        char note[32];
        snprintf(note, sizeof(note), "code 0x%x", static_cast<unsigned>(code));
        fTrace.Record(TraceDir::Drop, channel, TraceEvent::Unknown, message.data(), message.size(),
                      note);
    }
}

uint16 Router::AllocateChannel() {
    // Numbers climb and wrap, skipping open ones, so a closed channel's number is not handed
    // out again at once; 0 is never a channel.
    for (uint32 tries = 0; tries < 65535; ++tries) {
        uint16 candidate = fNextChannel;
        fNextChannel = fNextChannel == 65535 ? 1 : fNextChannel + 1;
        if (fConnections.count(candidate) == 0) return candidate;
    }
    return 0;
}

void Router::HandleConnect(const Bytes& message) {
    fTrace.Record(TraceDir::Out, 0, TraceEvent::Connect, message.data(), message.size());
    WaitWire(message.size());
    if (message.size() < 5) {
        fTrace.Record(TraceDir::Drop, 0, TraceEvent::Unknown, message.data(), message.size(),
                      "connect request too short");
        return;
    }
    port_id replyPort = static_cast<port_id>(BytesToUlong(message.data()));
    size_t end = 4;
    while (end < message.size() && message[end] != 0) ++end;
    std::string server(reinterpret_cast<const char*>(message.data() + 4), end - 4);
    if (server.size() >= 2 && server.compare(server.size() - 2, 2, ".*") == 0)
        server.resize(server.size() - 2);

    std::unique_ptr<handheld::Session> session;
    if (!server.empty()) session = fDevice.Open(server);
    if (!session) {
        fTrace.Record(TraceDir::Drop, 0, TraceEvent::NoServer, message.data(), message.size(),
                      server);
        return;
    }
    uint16 channel;
    {
        std::lock_guard<std::mutex> guard(fLock);
        channel = AllocateChannel();
        if (channel != 0) fConnections[channel] = Connection{replyPort, server, std::move(session)};
    }
    if (channel == 0) {
        fTrace.Record(TraceDir::Drop, 0, TraceEvent::NoServer, message.data(), message.size(),
                      "no free channel");
        return;
    }
    WaitWire(4);
    status_t status = write_port_etc(replyPort, HOST_CONNECT_REPLY + channel, nullptr, 0, B_TIMEOUT,
                                     kReplyWriteTimeout);
    if (status != B_OK) {
        // Nobody will ever use a channel whose answer could not be given.
        std::lock_guard<std::mutex> guard(fLock);
        fConnections.erase(channel);
        fTrace.Record(TraceDir::Drop, channel, TraceEvent::ConnectReply, nullptr, 0,
                      "reply port unusable");
        return;
    }
    fTrace.Record(TraceDir::In, channel, TraceEvent::ConnectReply, nullptr, 0, server);
}

void Router::HandlePacket(uint16 channel, const Bytes& message) {
    port_id replyPort;
    std::string server;
    handheld::Session* session;
    {
        std::lock_guard<std::mutex> guard(fLock);
        auto it = fConnections.find(channel);
        if (it == fConnections.end()) {
            session = nullptr;
        } else {
            replyPort = it->second.replyPort;
            server = it->second.server;
            session = it->second.session.get();
        }
    }
    if (session == nullptr) {
        fTrace.Record(TraceDir::Drop, channel, TraceEvent::Unknown, message.data(), message.size(),
                      "channel not open");
        return;
    }
    fTrace.Record(TraceDir::Out, channel, TraceEvent::Request, message.data(), message.size());
    WaitWire(message.size());
    // Only the routing thread uses or removes sessions while the link is up.
    Bytes reply;
    if (!session->Handle(message.data(), message.size(), reply)) return;

    FaultDecision decision = fFaults.Apply(server, reply);
    if (decision.name != nullptr)
        fTrace.Record(TraceDir::Drop, channel, TraceEvent::Fault, reply.data(), reply.size(),
                      decision.name);
    int32 code = host_channel_packet(channel);
    switch (decision.action) {
        case FaultDecision::Action::Drop:
            return;
        case FaultDecision::Action::CutLink:
            fHost.CutLinkFromRouter();
            return;
        case FaultDecision::Action::Delay: {
            std::lock_guard<std::mutex> guard(fDelayedLock);
            fDelayed.push_back({Now() + decision.delay, replyPort, code, channel, reply});
            fDelayedChanged.notify_all();
            return;
        }
        case FaultDecision::Action::Deliver:
            WaitWire(reply.size());
            Deliver(replyPort, code, channel, reply, nullptr);
            return;
    }
}

void Router::Deliver(port_id port, int32 code, uint16 channel, const Bytes& bytes,
                     const char* note) {
    status_t status =
        write_port_etc(port, code, bytes.data(), bytes.size(), B_TIMEOUT, kReplyWriteTimeout);
    if (status != B_OK) {
        fTrace.Record(TraceDir::Drop, channel, TraceEvent::Reply, bytes.data(), bytes.size(),
                      std::string("reply port: ") + be_strerror(status));
        return;
    }
    fTrace.Record(TraceDir::In, channel, TraceEvent::Reply, bytes.data(), bytes.size(),
                  note != nullptr ? note : "");
}

void Router::HandleDisconnect(uint16 channel) {
    std::unique_ptr<handheld::Session> session;
    {
        std::lock_guard<std::mutex> guard(fLock);
        auto it = fConnections.find(channel);
        if (it != fConnections.end()) {
            session = std::move(it->second.session);
            fConnections.erase(it);
        }
    }
    if (!session) {
        fTrace.Record(TraceDir::Drop, channel, TraceEvent::Disconnect, nullptr, 0,
                      "channel not open");
        return;
    }
    fTrace.Record(TraceDir::Out, channel, TraceEvent::Disconnect, nullptr, 0);
}

void Router::RunDelayed() {
    std::unique_lock<std::mutex> lock(fDelayedLock);
    while (!fStopping) {
        if (fDelayed.empty()) {
            fDelayedChanged.wait(lock);
            continue;
        }
        size_t first = 0;
        for (size_t i = 1; i < fDelayed.size(); ++i)
            if (fDelayed[i].due < fDelayed[first].due) first = i;
        bigtime_t wait = fDelayed[first].due - Now();
        if (wait > 0) {
            fDelayedChanged.wait_for(lock, std::chrono::microseconds(wait));
            continue;
        }
        Delivery delivery = std::move(fDelayed[first]);
        fDelayed.erase(fDelayed.begin() + static_cast<long>(first));
        lock.unlock();
        Deliver(delivery.port, delivery.code, delivery.channel, delivery.bytes, "late");
        lock.lock();
    }
}

}  // namespace vantrel
