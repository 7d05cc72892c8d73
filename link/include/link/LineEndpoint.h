// One end of a serial line: the link machine and the channel layer driven by a thread over a
// file descriptor (a serial port or either side of a pseudo-terminal). The desktop and the
// simulated handheld each run one. Callbacks run on the endpoint's thread, never under its
// lock, so they may call back in.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "link/ChannelLayer.h"
#include "link/LineFaults.h"
#include "link/LinkMachine.h"

namespace wire {

struct EndpointOptions {
    LinkConfig link;
    // Info version we send; 0 picks: a desktop sends 6 to a Series 5 family machine, else 2;
    // a handheld sends 3 (Series 3) or 0x10 (Series 5 family).
    uint8 infoVersion = 0;
    // Limits the line to this many bytes a second each way (0: as fast as the descriptor
    // takes them). The simulated handheld uses it to model the cable.
    uint32 bytesPerSecond = 0;
    std::vector<LineFault> faults;
    uint32 faultSeed = 0x11AE;
    // False while the line is unusable to this end (a speed mismatch): bytes heard then are
    // garbage and thrown away.
    std::function<bool()> lineUsable;
    // One line of text per frame sent or received, for the line-level trace.
    std::function<void(bool out, const std::string& line)> trace;
};

struct EndpointCallbacks {
    std::function<void(Variant family, uint8 infoSent)> up;
    std::function<void(DownReason reason)> down;
    std::function<void(const ChannelEvent& event)> event;
};

// A fresh 32-bit session id, never the same twice in one process.
uint32 FreshSessionId();
uint32 FreshMagic();

class LineEndpoint {
public:
    LineEndpoint(int fd, EndpointOptions options, EndpointCallbacks callbacks);
    ~LineEndpoint();  // stops the thread; the descriptor stays the caller's
    LineEndpoint(const LineEndpoint&) = delete;
    LineEndpoint& operator=(const LineEndpoint&) = delete;

    void Start();
    void Stop();

    // Desktop: (re)starts a connect at this speed (the line's speed is the caller's to set).
    void Open(uint32 baud);
    // Ends the session cleanly (channel layer end, then Disc).
    void Close();

    int Connect(const std::string& name);
    void Answer(uint8 remote, uint8 local);
    bool SendMessage(uint8 channel, const uint8* data, size_t size);
    void CloseChannel(uint8 channel);

    LinkState State() const;
    DownReason Reason() const;
    Variant Family() const;
    LinkStats Stats() const;
    uint64 FaultsApplied() const;
    // True once the descriptor reported a hang-up (the other side of a pty closed).
    bool HungUp() const;
    // While cut, nothing is sent or heard (a pulled cable).
    void SetCut(bool cut);
    void SetFaults(std::vector<LineFault> faults);

private:
    struct Transition {
        bool up = false;
        bool down = false;
        Variant family = Variant::Series3;
        uint8 infoSent = 0;
        DownReason reason = DownReason::None;
    };
    void Run();
    void InstallObserver();
    // Under the lock: notes a session that came up or went down.
    void CheckSession(Transition& change);
    void Report(Transition& change);
    void Wake();
    void WriteFrames(std::vector<Bytes> frames);
    // With the line model on: when `bytes` more are through the line on this direction's
    // `clock`, starting no earlier than `notBefore`; 0 when the line is unlimited.
    bigtime_t Due(size_t bytes, bigtime_t& clock, bigtime_t notBefore);

    int fFd;
    EndpointOptions fOptions;
    EndpointCallbacks fCallbacks;
    int fWake[2] = {-1, -1};
    std::thread fThread;

    mutable std::mutex fLock;
    LinkMachine fMachine;
    std::unique_ptr<ChannelLayer> fChannels;
    LineFaults fFaults;
    uint32 fSeenSession = 0;
    bool fWasUp = false;
    bool fStop = false;
    bool fHungUp = false;
    bool fCut = false;
    bigtime_t fCutUntil = 0;
    bigtime_t fOutClock = 0;
    bigtime_t fInClock = 0;
    // When the bytes heard last are through the line: what they make us send waits for it.
    bigtime_t fInDue = 0;
};

}  // namespace wire
