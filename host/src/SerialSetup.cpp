#include "host/SerialSetup.h"

#include <cstdio>

#include "host/HostLink.h"

namespace vantrel {

uint32 SimulatedBaud(Family family) { return family == Family::Series5 ? 115200 : 19200; }

std::unique_ptr<SerialSetup> StartSerial(HostLink& host, const HostOptions& options,
                                         std::string& error) {
    auto setup = std::make_unique<SerialSetup>();
    SerialLinkOptions link;
    link.port = options.serial.port;
    link.baud = options.serial.baud;
    link.sendWindow = options.serial.sendWindow;
    link.inactivity = static_cast<bigtime_t>(options.serial.inactivitySeconds) * 1000000;
    link.faults = options.serial.hostLineFaults;
    if (options.serial.simulateOnPty) {
        handheld::LineHandheldOptions device;
        device.device.family = options.family;
        device.device.drives = options.drives;
        device.device.relaxedNames = options.relaxedNames;
        device.baud = SimulatedBaud(options.family);
        device.bytesPerSecond = options.speed.bytesPerSecond;
        device.faults = options.serial.lineFaults;
        // The faults struck on the handheld's side show in the host's trace.
        device.trace = [&host](bool, const std::string& line) {
            if (line.rfind("fault", 0) == 0)
                host.Trace().Record(handheld::TraceDir::Drop, 0, handheld::TraceEvent::Frame,
                                    nullptr, 0, "handheld " + line);
        };
        setup->handheld = handheld::LineHandheld::OnPty(std::move(device), error);
        if (!setup->handheld) return nullptr;
        link.port = setup->handheld->Path();
        printf("vantrel: simulated Series %d on %s at %u baud\n", static_cast<int>(options.family),
               link.port.c_str(), SimulatedBaud(options.family));
        fflush(stdout);
    }
    setup->link = std::make_unique<SerialLink>(host, link);
    if (!setup->link->OpenPort(error)) return nullptr;
    setup->link->Start();
    return setup;
}

}  // namespace vantrel
