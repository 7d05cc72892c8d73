#include "host/SerialOptions.h"

#include <cstdlib>

#include "host/SerialPort.h"

namespace vantrel {

namespace {

bool Count(const std::string& text, uint64 limit, uint32& value) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    uint64 parsed = std::strtoull(text.c_str(), nullptr, 10);
    if (parsed > limit) return false;
    value = static_cast<uint32>(parsed);
    return true;
}

}  // namespace

int ParseSerialOption(int argc, const char* const* argv, int& i, SerialOptions& options,
                      std::string& error) {
    std::string arg = argv[i];
    if (arg == "--pty") {
        options.simulateOnPty = true;
        return 1;
    }
    if (arg != "--port" && arg != "--baud" && arg != "--send-window" && arg != "--inactivity" &&
        arg != "--line-fault" && arg != "--host-line-fault")
        return 0;
    if (i + 1 >= argc) {
        error = arg + " needs a value";
        return -1;
    }
    std::string value = argv[++i];
    if (arg == "--port") {
        if (value.empty()) {
            error = "--port needs a device path";
            return -1;
        }
        options.port = value;
    } else if (arg == "--baud") {
        if (!Count(value, 1000000, options.baud) || !IsSupportedSpeed(options.baud)) {
            error = "bad speed: " + value + " (9600, 19200, 38400, 57600 or 115200)";
            return -1;
        }
    } else if (arg == "--send-window") {
        if (!Count(value, 8, options.sendWindow) || options.sendWindow == 0) {
            error = "bad send window: " + value + " (1 to 8)";
            return -1;
        }
    } else if (arg == "--inactivity") {
        if (!Count(value, 3600, options.inactivitySeconds)) {
            error = "bad inactivity time-out: " + value;
            return -1;
        }
    } else {
        std::optional<wire::LineFault> fault = wire::LineFault::Parse(value);
        if (!fault) {
            error = "bad line fault: " + value;
            return -1;
        }
        (arg == "--line-fault" ? options.lineFaults : options.hostLineFaults).push_back(*fault);
    }
    return 1;
}

std::string SerialUsage() {
    return "  --port PATH                  the handheld on a serial line (/dev/ttyUSB0, a pty)\n"
           "  --baud N                     its speed (default: try 115200 down to 9600)\n"
           "  --pty                        the simulated handheld behind a pseudo-terminal,\n"
           "                               reached through the serial link code\n"
           "  --send-window N              Series 5 family frames in flight (default 1;\n"
           "                               more is untried on real handhelds)\n"
           "  --inactivity S               link down after S seconds of silence (default off)\n"
           "  --line-fault RULE            on the simulated handheld's frames: flip:N | drop:N |\n"
           "                               dup:N | delay:N:MS | noise:N:BYTES | cut:N[:MS] |\n"
           "                               corrupt:PERCENT (N as NxCOUNT for several)\n"
           "  --host-line-fault RULE       the same on the frames vantrel sends\n";
}

}  // namespace vantrel
