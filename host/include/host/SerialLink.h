// The host over a real serial line: opens the port, finds the handheld's speed, connects,
// brings the host link up, and takes it down again when the line drops (Disc, DSR low, no
// answer after the retries, nothing heard, the other side of a pty gone), then listens for
// the handheld again. The add-ons see the same "WritePsion" protocol as with the simulation.
//
//   vantrel::SerialLink link(host, options);
//   if (!link.OpenPort(error)) ...
//   link.Start();   // progress lines on standard output
//   ...
//   link.Stop();    // clean end of the session, link down
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "device/Handheld.h"
#include "host/SerialPort.h"
#include "link/LineEndpoint.h"

namespace vantrel {

class HostLink;

struct SerialLinkOptions {
    std::string port;
    uint32 baud = 0;  // 0: search, fastest first
    // Series 5 family only, untried on real handhelds: off (1) unless asked.
    uint32 sendWindow = 1;
    bigtime_t inactivity = 0;
    // 0: the recommended retransmit time for the speed (tests shorten it).
    bigtime_t retransmitAfter = 0;
    std::vector<wire::LineFault> faults;
    // The port's modem lines (null: the kernel's); tests pull the cable through their own.
    std::shared_ptr<ModemLines> modemLines;
    bool quiet = false;  // no progress lines (tests)
};

class SerialLink {
public:
    SerialLink(HostLink& host, SerialLinkOptions options);
    ~SerialLink();

    bool OpenPort(std::string& error);
    void Start();
    // Asks the link to end (returns at once); Stop also waits for it.
    void RequestStop();
    void Stop();

    // Blocks until the link is up (true) or `timeout` µs pass.
    bool WaitUp(bigtime_t timeout);
    bool IsUp() const;
    uint32 LinksMade() const { return fLinksMade.load(); }
    uint32 Speed() const { return fSpeed.load(); }
    // Connects refused because the line echoed what we sent.
    uint32 EchoesRefused() const { return fEchoes.load(); }
    wire::LinkStats Stats() const;
    // The last reason the link went down, in words.
    std::string LastDrop() const;
    wire::LineEndpoint* Endpoint() { return fEndpoint.get(); }

    // Used by the host's router through the device interface.
    std::unique_ptr<handheld::Session> OpenSession(const std::string& server);
    bool Request(uint8 channel, const uint8* data, size_t size, handheld::Bytes& reply);
    void CloseChannel(uint8 channel);

private:
    void Run();
    bool Search();
    void Serve();
    void Say(const std::string& line);
    void OnEvent(const wire::ChannelEvent& event);
    int ConnectNamed(const std::string& name, uint8& status);
    bool StartThroughLink(const std::string& server, std::string& started);

    HostLink& fHost;
    SerialLinkOptions fOptions;
    std::unique_ptr<SerialPort> fPort;
    std::unique_ptr<wire::LineEndpoint> fEndpoint;
    std::thread fThread;
    std::atomic<bool> fStop{false};
    std::atomic<uint32> fLinksMade{0};
    std::atomic<uint32> fSpeed{0};
    std::atomic<uint32> fEchoes{0};
    uint32 fQuietRounds = 0;  // search rounds without an answer (the search thread's own)

    mutable std::mutex fLock;
    std::condition_variable fChanged;
    bool fUp = false;        // link machine up
    bool fHostUp = false;    // host link up (add-ons running)
    uint32 fGeneration = 0;  // bumps at every link drop: waiters give up
    wire::DownReason fDownReason = wire::DownReason::None;
    wire::Variant fFamily = wire::Variant::Series3;
    uint8 fInfoSent = 0;
    std::string fLastDrop;
    std::map<uint8, std::optional<uint8>> fAnswers;
    std::map<uint8, std::deque<handheld::Bytes>> fInbox;
    uint16 fNextOpid = 1;
};

}  // namespace vantrel
