#include "device/LineHandheld.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace handheld {

namespace {

uint32 BaudOf(speed_t code) {
    switch (code) {
        case B9600:
            return 9600;
        case B19200:
            return 19200;
        case B38400:
            return 38400;
        case B57600:
            return 57600;
        case B115200:
            return 115200;
        default:
            return 0;
    }
}

std::string ServerName(const std::string& name) {
    if (name.size() >= 2 && name.compare(name.size() - 2, 2, ".*") == 0)
        return name.substr(0, name.size() - 2);
    return name;
}

}  // namespace

std::unique_ptr<LineHandheld> LineHandheld::OnPty(LineHandheldOptions options, std::string& error) {
    std::unique_ptr<LineHandheld> handheld(new LineHandheld);
    int master, slave;
    char name[128];
    termios raw;
    cfmakeraw(&raw);
    cfsetispeed(&raw, B19200);
    cfsetospeed(&raw, B19200);
    if (openpty(&master, &slave, name, &raw, nullptr) != 0) {
        error = std::string("cannot make a pseudo-terminal: ") + strerror(errno);
        return nullptr;
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    handheld->fMaster = master;
    handheld->fSlaveKeep = slave;
    handheld->fPath = name;
    handheld->fBaud = options.baud;
    handheld->fDevice = Handheld::Create(options.device);
    bool series5 = options.device.family == Family::Series5;
    handheld->fChannelCount = series5 ? wire::kSeries5Channels : wire::kSeries3Channels;

    wire::EndpointOptions endpoint;
    endpoint.link.role = wire::Role::Handheld;
    endpoint.link.family = series5 ? wire::Variant::Series5 : wire::Variant::Series3;
    endpoint.link.baud = options.baud;
    endpoint.link.magic = wire::FreshMagic();
    endpoint.link.retransmitAfter = options.retransmitAfter;
    endpoint.bytesPerSecond = options.bytesPerSecond < 0
                                  ? options.baud / 10
                                  : static_cast<uint32>(options.bytesPerSecond);
    endpoint.faults = options.faults;
    endpoint.trace = options.trace;
    LineHandheld* self = handheld.get();
    endpoint.lineUsable = [self] { return self->LineMatches(); };
    wire::EndpointCallbacks callbacks;
    callbacks.up = [self](wire::Variant, uint8) {
        self->Reset();
        self->fLink = self->fDevice->Open("LINK");
        self->fLinksUp.fetch_add(1);
    };
    callbacks.down = [self](wire::DownReason) { self->Reset(); };
    callbacks.event = [self](const wire::ChannelEvent& event) { self->OnEvent(event); };
    handheld->fEndpoint =
        std::make_unique<wire::LineEndpoint>(master, std::move(endpoint), std::move(callbacks));
    handheld->fEndpoint->Start();
    return handheld;
}

LineHandheld::~LineHandheld() {
    if (fEndpoint) fEndpoint->Stop();
    fEndpoint.reset();
    fSessions.clear();
    fLink.reset();
    if (fMaster >= 0) close(fMaster);
    if (fSlaveKeep >= 0) close(fSlaveKeep);
}

bool LineHandheld::LineMatches() const {
    // The pty's master reports the termios the desktop set on its side.
    termios tio;
    if (tcgetattr(fMaster, &tio) != 0) return true;
    uint32 desktop = BaudOf(cfgetospeed(&tio));
    return desktop == 0 || desktop == fBaud.load();
}

void LineHandheld::Reset() {
    fSessions.clear();
    fLink.reset();
    fDevice->LinkDropped();
}

void LineHandheld::OnEvent(const wire::ChannelEvent& event) {
    using Kind = wire::ChannelEvent::Kind;
    switch (event.kind) {
        case Kind::ConnectAsked: {
            std::string server = ServerName(event.name);
            std::unique_ptr<Session> session;
            if (!server.empty()) session = fDevice->Open(server);
            uint8 local = 0;
            if (session) {
                for (uint16 ch = wire::kLinkChannel + 1; ch < fChannelCount; ++ch) {
                    if (fSessions.count(static_cast<uint8>(ch)) == 0) {
                        local = static_cast<uint8>(ch);
                        break;
                    }
                }
            }
            if (local != 0) fSessions[local] = std::move(session);
            fEndpoint->Answer(event.remote, local);
            return;
        }
        case Kind::Message: {
            Session* session = nullptr;
            if (event.channel == wire::kLinkChannel) {
                session = fLink.get();
            } else {
                auto it = fSessions.find(event.channel);
                if (it != fSessions.end()) session = it->second.get();
            }
            if (session == nullptr) return;
            Bytes reply;
            if (session->Handle(event.bytes.data(), event.bytes.size(), reply))
                fEndpoint->SendMessage(event.channel, reply.data(), reply.size());
            return;
        }
        case Kind::Closed:
            fSessions.erase(event.channel);
            return;
        case Kind::EndOfChannels:
            fSessions.clear();
            return;
        case Kind::Info:
        case Kind::ConnectAnswered:
            return;
    }
}

}  // namespace handheld
