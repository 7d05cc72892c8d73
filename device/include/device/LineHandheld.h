// A simulated handheld at the far end of a serial line: the handheld's side of the link and
// channel layers, serving the device's servers over a pseudo-terminal (or any descriptor).
// It answers as a handheld does: its own info and LINK connect at link up, the desktop's
// connects by server name, servers started through LINK's register request.
//
// The line model: it hears only a line set to its own speed (a pty carries the desktop's
// termios speed; bytes sent at another speed are garbage to it) and it moves at most
// speed/10 bytes a second each way, unless told otherwise.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "device/Handheld.h"
#include "link/LineEndpoint.h"

namespace handheld {

struct LineHandheldOptions {
    HandheldOptions device;
    uint32 baud = 19200;
    // Bytes a second each way; -1: baud / 10; 0: unlimited.
    int64 bytesPerSecond = -1;
    std::vector<wire::LineFault> faults;
    // 0: the recommended retransmit time for the speed (tests shorten it).
    bigtime_t retransmitAfter = 0;
    // One line per frame, for a line-level view of the handheld's side.
    std::function<void(bool out, const std::string& line)> trace;
};

class LineHandheld {
public:
    // Makes a pseudo-terminal pair and serves on its master side; the desktop opens Path().
    static std::unique_ptr<LineHandheld> OnPty(LineHandheldOptions options, std::string& error);
    ~LineHandheld();

    const std::string& Path() const { return fPath; }
    wire::LineEndpoint& Endpoint() { return *fEndpoint; }
    Handheld& Device() { return *fDevice; }
    // A pulled cable: nothing in or out until restored.
    void SetCut(bool cut) { fEndpoint->SetCut(cut); }
    // Sessions the desktop brought up so far.
    uint32 LinksUp() const { return fLinksUp.load(); }
    // Changes the handheld's own speed (the user changed its Remote link setting).
    void SetBaud(uint32 baud) { fBaud.store(baud); }

private:
    LineHandheld() = default;
    bool LineMatches() const;
    void OnEvent(const wire::ChannelEvent& event);
    void Reset();

    int fMaster = -1;
    int fSlaveKeep = -1;  // keeps the pty alive between desktops
    std::string fPath;
    std::unique_ptr<Handheld> fDevice;
    std::unique_ptr<wire::LineEndpoint> fEndpoint;
    // Touched only on the endpoint's thread.
    std::map<uint8, std::unique_ptr<Session>> fSessions;
    std::unique_ptr<Session> fLink;
    uint16 fChannelCount = 8;
    std::atomic<uint32> fLinksUp{0};
    std::atomic<uint32> fBaud{19200};
};

}  // namespace handheld
