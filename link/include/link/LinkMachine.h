// The link layer's state machine, for either end of the cable. Pure: bytes from the line and
// the time go in, bytes for the line and delivered data payloads come out, so tests drive it
// with a fake clock and no port.
//
// Desktop: Start() sends a Series 5 family connect request (Req_Req). A Series 5 family
// handheld answers Req_Con with a magic, a Series 3 answers Ack (or Req): that tells the
// families apart. A Req_Con carrying our own magic means the line echoes: refused.
// Handheld: listens, answers as its family does, and listens again after the link drops.
#pragma once

#include <deque>
#include <functional>
#include <string>

#include "link/Frame.h"

namespace wire {

enum class Role { Desktop, Handheld };
enum class LinkState { Idle, Connecting, Up, Down };
enum class DownReason { None, NoAnswer, RetriesExhausted, Disc, Echo, Reset, Inactive, Local };

const char* DescribeDownReason(DownReason reason);

// Recommended timers, not the handheld's own constants.
constexpr uint32 kRetransmitBitsNumerator = 13200;  // retransmit after 13200/baud s + 0.2 s
constexpr bigtime_t kRetransmitExtra = 200000;
constexpr uint32 kMaxResends = 8;
constexpr uint32 kConnectRetries = 4;               // Req_Req and Req_Con each
constexpr bigtime_t kInactivityTimeout = 60000000;  // when switched on
// Frames the Series 5 family handheld may send before an ack.
constexpr uint32 kSeries5ReceiveWindow = 8;

struct LinkConfig {
    Role role = Role::Desktop;
    // The handheld's own family (Handheld role only).
    Variant family = Variant::Series3;
    uint32 baud = 19200;
    uint32 maxResends = kMaxResends;
    // 0: the recommended retransmit time for the speed. Tests that corrupt many frames on an
    // unthrottled line set a shorter one, so that they do not spend minutes waiting on timers.
    bigtime_t retransmitAfter = 0;
    uint32 connectRetries = kConnectRetries;
    // Data frames in flight. 1 works with every handheld; more is untried on real ones (how a
    // handheld acknowledges several is not known) and applies to the Series 5 family only.
    uint32 sendWindow = 1;
    // 0: off. No bytes from the line for this long takes the link down.
    bigtime_t inactivity = 0;
    // Our connect magic; must differ between two ends (the caller picks it at random).
    uint32 magic = 0x7A5E11CD;
};

struct LinkStats {
    uint64 framesOut = 0;
    uint64 framesIn = 0;
    uint64 dataOut = 0;          // first sends of data frames
    uint64 retransmissions = 0;  // data frames sent again
    uint64 duplicates = 0;       // data frames received again or out of order
    uint64 badCrcs = 0;
    uint64 badFrames = 0;
    uint64 wireBytesOut = 0;  // every byte sent, frames and retransmissions
    uint64 wireBytesIn = 0;   // every byte heard
};

// Every frame that passes, for the line-level trace. `note` says "resend", "dup" and such.
using FrameObserver = std::function<void(bool out, const Frame& frame, const char* note)>;

class LinkMachine {
public:
    explicit LinkMachine(LinkConfig config);

    void Start(bigtime_t now);
    void Receive(const uint8* data, size_t size, bigtime_t now);
    // Runs the timers; call at NextDeadline() or whenever convenient.
    void Tick(bigtime_t now);
    // Queues one data payload (at most kMaxFrameData bytes). False when the link is not up.
    bool Send(Bytes payload, bigtime_t now);
    // Sends Disc and takes the link down.
    void Disconnect(bigtime_t now);

    // Bytes for the line, and the same one frame apiece (for faults between frames).
    Bytes TakeOutput();
    std::vector<Bytes> TakeOutputFrames();
    std::deque<Bytes> TakeReceived();

    LinkState State() const { return fState; }
    DownReason Reason() const { return fReason; }
    // The family found (desktop) or served (handheld).
    Variant Family() const { return fVariant; }
    // Increases every time the link comes up; a change means every channel is gone.
    uint32 Session() const { return fSession; }
    // Payloads queued or in flight.
    size_t Pending() const { return fQueue.size() + fInFlight.size(); }
    // The time Tick must run next, or -1.
    bigtime_t NextDeadline() const;
    bigtime_t RetransmitTime() const;
    const LinkStats& Stats() const { return fStats; }
    void SetObserver(FrameObserver observer) { fObserver = std::move(observer); }

private:
    struct InFlight {
        uint16 seq;
        Bytes payload;
    };
    void HandleFrame(const Frame& frame, bigtime_t now);
    void HandleConnectFrame(const Frame& frame, bigtime_t now);
    void Emit(const Frame& frame, Variant variant, const char* note = "");
    void SendMagic(bigtime_t now);
    void ComeUp(Variant variant, uint16 sendSeed, bigtime_t now);
    void GoDown(DownReason reason);
    void Pump(bigtime_t now);
    uint16 Modulus() const;
    uint32 Window() const;

    LinkConfig fConfig;
    FrameDecoder fDecoder;
    LinkState fState = LinkState::Idle;
    DownReason fReason = DownReason::None;
    Variant fVariant = Variant::Series3;
    uint32 fSession = 0;
    std::vector<Bytes> fOut;
    std::deque<Bytes> fReceived;
    std::deque<Bytes> fQueue;
    std::deque<InFlight> fInFlight;
    uint16 fSendSeq = 0;
    uint16 fLastReceived = 0;
    uint32 fTries = 0;
    bigtime_t fDeadline = -1;
    bigtime_t fLastHeard = 0;
    bool fSentReqCon = false;
    LinkStats fStats;
    FrameObserver fObserver;
};

}  // namespace wire
