// Command-line settings of the serial link: the port, its speed, the simulated handheld on a
// pseudo-terminal, the larger sending window, and faults on the line.
#pragma once

#include <string>
#include <vector>

#include "link/LineFaults.h"

namespace vantrel {

struct SerialOptions {
    std::string port;              // --port PATH: a real serial line (or a pty)
    uint32 baud = 0;               // --baud N; 0: search, fastest first
    bool simulateOnPty = false;    // --pty: the simulated handheld behind a pty, over the wire
    uint32 sendWindow = 1;         // --send-window N (Series 5 family; untried on real ones)
    uint32 inactivitySeconds = 0;  // --inactivity S; 0: off
    std::vector<wire::LineFault> lineFaults;      // --line-fault RULE, on the handheld's frames
    std::vector<wire::LineFault> hostLineFaults;  // --host-line-fault RULE, on ours

    bool Used() const { return !port.empty() || simulateOnPty; }
};

// Takes one serial option at argv[i] (and its value, advancing i). 1: taken, 0: not a serial
// option, -1: bad value (error says why).
int ParseSerialOption(int argc, const char* const* argv, int& i, SerialOptions& options,
                      std::string& error);
std::string SerialUsage();

}  // namespace vantrel
