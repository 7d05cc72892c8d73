// The host's router: reads "WritePsion", numbers channels, hands packets to the device's
// servers through the link model and fault injector, and writes each reply as one message on
// the connection's reply port.
#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "device/Faults.h"
#include "device/Handheld.h"
#include "device/LinkModel.h"
#include "device/PacketTrace.h"
#include "platform/OS.h"

namespace vantrel {

class HostLink;

class Router {
public:
    Router(HostLink& host, port_id requestPort, handheld::Handheld& device,
           handheld::PacketTrace& trace, handheld::FaultInjector& faults,
           handheld::LinkSpeed speed);
    ~Router();

    void Start();
    // Waits for the routing thread, which ends once the request port is deleted.
    void Join();
    // Drops replies still in flight, deletes every connection's reply port and closes the
    // device sessions. Call after Join.
    void CloseConnections();

    size_t OpenChannels() const;

private:
    struct Connection {
        port_id replyPort;
        std::string server;
        std::unique_ptr<handheld::Session> session;
    };
    struct Delivery {
        bigtime_t due;
        port_id port;
        int32 code;
        uint16 channel;
        handheld::Bytes bytes;
    };

    void Run();
    void Dispatch(int32 code, const handheld::Bytes& message);
    void HandleConnect(const handheld::Bytes& message);
    void HandlePacket(uint16 channel, const handheld::Bytes& message);
    void HandleDisconnect(uint16 channel);
    // Finds a free channel number; 0 when all 65535 are open.
    uint16 AllocateChannel();
    void Deliver(port_id port, int32 code, uint16 channel, const handheld::Bytes& bytes,
                 const char* note);
    void WaitWire(size_t bytes);
    void RunDelayed();

    HostLink& fHost;
    port_id fRequestPort;
    handheld::Handheld& fDevice;
    handheld::PacketTrace& fTrace;
    handheld::FaultInjector& fFaults;

    mutable std::mutex fLock;  // guards the connection table
    std::map<uint16, Connection> fConnections;
    uint16 fNextChannel = 1;
    const handheld::LinkSpeed fSpeed;

    std::thread fThread;
    std::thread fDelayedThread;
    std::mutex fDelayedLock;
    std::condition_variable fDelayedChanged;
    std::vector<Delivery> fDelayed;
    bool fStopping = false;
};

}  // namespace vantrel
