// What vantrel runs for a serial link: the port (a real one, or a pseudo-terminal with the
// simulated handheld at its far end) and the link over it.
#pragma once

#include <memory>
#include <string>

#include "device/LineHandheld.h"
#include "host/HostOptions.h"
#include "host/SerialLink.h"

namespace vantrel {

class HostLink;

struct SerialSetup {
    std::unique_ptr<handheld::LineHandheld> handheld;  // only with --pty
    std::unique_ptr<SerialLink> link;
    ~SerialSetup() {
        link.reset();  // ends the session before the handheld goes
        handheld.reset();
    }
};

// Opens the port and starts the link; null with a message for the user in `error`.
std::unique_ptr<SerialSetup> StartSerial(HostLink& host, const HostOptions& options,
                                         std::string& error);

// The speed a simulated handheld of this family is set to.
uint32 SimulatedBaud(Family family);

}  // namespace vantrel
