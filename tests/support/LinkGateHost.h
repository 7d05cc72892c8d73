// The host library with linkgate loaded, chained into its application object, in front of the
// simulated Series 3: one for a whole suite, as in vantrel. For suites that link hostlink and
// dodedivu.
#pragma once

#include <memory>

#include "DodedIVU.h"
#include "host/HostLink.h"

class LinkGateHost {
public:
    // `options` with linkgate added to its add-ons and the trace kept in memory.
    explicit LinkGateHost(vantrel::HostOptions options = {}) : options_(std::move(options)) {
        options_.addOnFiles.push_back(TAVRO_CLIENT_ADDON_DIR "/linkgate.so");
        options_.traceInMemory = true;
    }
    ~LinkGateHost() {
        host.reset();  // the link goes down while the application still runs
        application.Stop();
    }
    LinkGateHost(const LinkGateHost&) = delete;
    LinkGateHost& operator=(const LinkGateHost&) = delete;

    // The application first: linkgate chains its handler into it on the first link.
    status_t Start() {
        status_t status = application.Start();
        if (status != B_OK) return status;
        host = std::make_unique<vantrel::HostLink>(options_);
        return host->Start();
    }

    // A fresh link, with no fault left from an earlier test.
    status_t Relink() {
        status_t status = host->LinkDown();
        if (status != B_OK) return status;
        host->ClearFaults();
        return host->LinkUp();
    }

    DodedIVU application;
    std::unique_ptr<vantrel::HostLink> host;

private:
    vantrel::HostOptions options_;
};
