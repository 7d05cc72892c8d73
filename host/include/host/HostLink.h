// The host link application as a library: owns "WritePsion", routes channels between the
// desktop's callers and the simulated handheld, loads client add-ons and runs their
// RunClient threads per link. vantrel's main is a thin shell around it; tests start one
// in-process.
//
//   vantrel::HostOptions options;
//   options.drives.push_back({'M', "INTERNAL", folder});
//   vantrel::HostLink host(options);
//   host.Start();    // loads the add-ons (Initialise), makes the device
//   host.LinkUp();   // "WritePsion" exists, RunClient threads run
//   ...
//   host.LinkDown(); // ports gone, link-down sent, RunClient threads joined
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/Faults.h"
#include "device/PacketTrace.h"
#include "host/AddOn.h"
#include "host/HostOptions.h"
#include "platform/OS.h"

namespace vantrel {

class Router;

class HostLink {
public:
    explicit HostLink(HostOptions options);
    ~HostLink();  // brings the link down and unloads the add-ons
    HostLink(const HostLink&) = delete;
    HostLink& operator=(const HostLink&) = delete;

    // Makes the device and loads the add-ons, calling each one's Initialise once. An add-on
    // that fails to load is reported on standard error and skipped.
    status_t Start();

    // Creates "WritePsion", starts routing and runs one RunClient(device family) thread per
    // add-on. B_BUSY when the link is already up; B_NAME_IN_USE when another "WritePsion"
    // exists in the process.
    status_t LinkUp();
    // Link cut: deletes "WritePsion" and every connection's reply port (callers see
    // B_BAD_PORT_ID), sends each RunClient thread the link-down message 0x70000 and waits for
    // the threads. Safe to call when the link is down and from any thread but the router's.
    status_t LinkDown();
    bool IsLinkUp() const;
    // True once a link-cut fault has taken (or is taking) the link down.
    bool WasCut() const;
    // During a LinkDown: sends the link-down message again to the client threads still
    // running, so that one pausing between unmount tries tries again now (after busy mounts
    // were detached).
    void HurryLinkDown();
    // Blocks until the link is down (by LinkDown or a link-cut fault) or `timeout` µs pass.
    bool WaitForLinkDown(bigtime_t timeout);
    // `observer` is told after every change of the link (true: up), whatever brought it (the
    // simulated link, a serial line, a cut). Called on the thread that changed it, which may
    // hold the host's link lock: it must not call back into the host's link calls. Returns an
    // id for RemoveLinkObserver; once that returns, the observer is no longer running.
    int AddLinkObserver(std::function<void(bool up)> observer);
    void RemoveLinkObserver(int id);

    port_id RequestPort() const;  // "WritePsion", or a negative status when the link is down
    int32 FamilyVersion() const { return static_cast<int32>(fOptions.family); }
    const HostOptions& Options() const { return fOptions; }

    handheld::PacketTrace& Trace() { return fTrace; }
    handheld::FaultInjector& Faults() { return fFaults; }
    void SetFaults(std::vector<FaultRule> faults) { fFaults.Set(std::move(faults)); }
    void ClearFaults() { fFaults.Clear(); }
    void SetLinkSpeed(LinkSpeed speed);

    // Puts another device behind the router (the handheld at the end of a serial line), of
    // this family. Only while the link is down, after Start.
    void UseDevice(std::unique_ptr<handheld::Handheld> device, Family family);

    const std::vector<std::unique_ptr<AddOn>>& AddOns() const { return fAddOns; }
    // Channels open right now.
    size_t OpenChannels() const;

private:
    friend class Router;
    void CutLinkFromRouter();
    void Tell(bool up);

    HostOptions fOptions;
    handheld::PacketTrace fTrace;
    handheld::FaultInjector fFaults;
    std::unique_ptr<handheld::Handheld> fDevice;
    std::vector<std::unique_ptr<AddOn>> fAddOns;
    std::unique_ptr<Router> fRouter;
    struct State;
    std::unique_ptr<State> fState;
};

}  // namespace vantrel
