// The channel layer over one link session: control frames, the info exchange, connects both
// ways, messages cut into parts and joined again, xon/xoff. Pure, like the link machine:
// payloads in, payloads out (control first), events for the caller.
//
// At link up Begin() sends our info and connects to the other end's "LINK.*". The other end's
// connect to our "LINK.*" is answered here; a desktop refuses every other name (-33), a
// handheld asks its caller (ConnectAsked, then Answer).
#pragma once

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "link/LinkMachine.h"
#include "link/Ncp.h"

namespace wire {

// Channels each family offers.
constexpr uint16 kSeries3Channels = 8;
constexpr uint16 kSeries5Channels = 256;
// A message joined from parts may not grow past this.
constexpr size_t kMaxMessageSize = 64 * 1024;

struct ChannelEvent {
    enum class Kind {
        Info,             // the other end's info: version, id
        ConnectAsked,     // handheld role: remote, name; call Answer
        ConnectAnswered,  // channel, status, remote
        Message,          // channel, bytes
        Closed,           // channel: the other end ended it
        EndOfChannels,
    };
    Kind kind = Kind::Info;
    uint8 channel = 0;
    uint8 remote = 0;
    uint8 status = 0;
    uint8 version = 0;
    uint32 id = 0;
    std::string name;
    Bytes bytes;
};

class ChannelLayer {
public:
    ChannelLayer(Role role, uint16 channels);

    // Link up: our info and our connect to the other end's LINK server.
    void Begin(uint8 infoVersion, uint32 id);
    // A connect to a named server. The local channel, or -1 when none is free.
    int Connect(const std::string& name);
    // Handheld role: answers a ConnectAsked; `local` 0 refuses (-33).
    void Answer(uint8 remote, uint8 local);
    bool SendMessage(uint8 channel, const uint8* data, size_t size);
    // Ends a connection: a disconnect for one we opened, connection-ended for one opened to us.
    void Close(uint8 channel);
    // A clean end of the session: every connection ended, then end of channels.
    void End();
    void Receive(const uint8* data, size_t size);

    // The next payload for the link, control frames first; data waits while its channel is
    // switched off by an xoff.
    std::optional<Bytes> NextPayload();
    std::vector<ChannelEvent> TakeEvents();

    uint8 InfoSent() const { return fInfoSent; }
    std::optional<uint8> InfoReceived() const { return fInfoReceived; }
    bool IsOpen(uint8 channel) const;
    size_t OpenChannels() const { return fChannels.size(); }
    bool Stopped(uint8 channel) const;

private:
    struct Channel {
        uint8 remote = 0;
        bool weOpened = false;
        bool connected = false;
        bool stopped = false;  // xoff from the other end
        Bytes partial;
        std::deque<Bytes> outgoing;
    };
    void HandleControl(const NcpFrame& frame);
    void HandleData(const NcpFrame& frame);
    int FreeChannel() const;

    Role fRole;
    uint16 fChannelCount;
    uint8 fInfoSent = 0;
    std::optional<uint8> fInfoReceived;
    bool fEnded = false;
    std::map<uint8, Channel> fChannels;
    std::deque<Bytes> fControl;
    std::vector<ChannelEvent> fEvents;
    uint8 fRoundRobin = 0;
};

}  // namespace wire
