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

#include <signal.h>

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

    // What to do when mounts in use hold the link-down up: the mount client unmounts every
    // volume before its thread ends, and a program working inside a Linux mount keeps it
    // busy. `detach` lets go of the Linux mounts still in use; it is called once, at once
    // when `detachAtOnce`, else on a second stop signal (one of `signals`, which the caller
    // keeps blocked) or once `patience` µs have passed.
    struct BusyMounts {
        sigset_t signals;
        bool detachAtOnce = false;
        bigtime_t patience = 15000000;
        // After this long the user is told what the host waits for.
        bigtime_t notice = 3000000;
        std::function<void()> detach;
    };
    // LinkDown, detaching busy mounts as `busy` says, so that the host can stop.
    status_t LinkDown(const BusyMounts& busy);
    // True once a link-cut fault has taken (or is taking) the link down.
    bool WasCut() const;
    // Blocks until the link is down (by LinkDown or a link-cut fault), or has gone down since the
    // call even if it is up again, or `timeout` µs pass.
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

    // Puts another device behind the router (the handheld at the end of a serial line), of
    // this family. Only while the link is down, after Start.
    void UseDevice(std::unique_ptr<handheld::Handheld> device, Family family);

    const std::vector<std::unique_ptr<AddOn>>& AddOns() const { return fAddOns; }
    // Channels open right now.
    size_t OpenChannels() const;

private:
    friend class Router;
    void CutLinkFromRouter();
    // During a LinkDown: sends the link-down message again to the client threads still
    // running, so that one pausing between unmount tries tries again now (after busy mounts
    // were detached).
    void HurryLinkDown();
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
