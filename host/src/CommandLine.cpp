#include "host/CommandLine.h"

#include <strings.h>

#include <cctype>
#include <cstdlib>
#include <set>

#include "host/Settings.h"

namespace vantrel {

namespace {

bool ParseUnsigned(const std::string& text, uint64& value, bool allowSuffix) {
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
    char* end = nullptr;
    unsigned long long parsed = std::strtoull(text.c_str(), &end, 10);
    std::string suffix = end;
    uint64 scale = 1;
    if (allowSuffix && (suffix == "K" || suffix == "k"))
        scale = 1024;
    else if (allowSuffix && (suffix == "M" || suffix == "m"))
        scale = 1024 * 1024;
    else if (!suffix.empty())
        return false;
    if (parsed > UINT64_MAX / scale) return false;
    value = parsed * scale;
    return true;
}

}  // namespace

std::string Usage() {
    // "Usage:" and "or:" as help2man expects them: the manual page's SYNOPSIS comes from them.
    return "Usage: vantrel [options]\n"
           "  or:  vantrel [options] config [mount-root=PATH] [debug=on|off] [debug-file=PATH]\n"
           "Runs the link to a Psion handheld and mounts its drives; with config, shows or\n"
           "changes the mount client's settings.\n"
           "  --series3 | --series5        handheld to simulate (default: Series 3)\n"
           "  --drive L:VOLUME=FOLDER[,capacity=SIZE][,media=N][,ro]\n"
           "                               a drive and the host folder behind it (repeatable);\n"
           "                               FOLDER absolute; SIZE in bytes or with K/M; media 1\n"
           "                               to 7, of which 5 and 6 are read-only\n"
           "  --relaxed-names              allow names a Series 3 refuses (long, mixed case)\n"
           "  --addons FOLDER              load every *.so in FOLDER as a client add-on\n"
           "  --addon FILE                 load one client add-on (repeatable)\n"
           "  --mount-root PATH            mount root for the mount client (absolute, not /)\n"
           "  --settings-dir FOLDER        folder of the add-ons' lasting settings (default:\n"
           "                               $XDG_CONFIG_HOME/tavro or ~/.config/tavro)\n"
           "  --no-fuse                    keep the volumes inside the host (no Linux mounts)\n"
           "  --allow-other                let other users into the Linux mounts (modes apply)\n"
           "  --umask MASK                 octal bits taken from the files' modes (default 022)\n"
           "  --gate PATH                  socket of the gateway's door (default:\n"
           "                               $XDG_RUNTIME_DIR/tavro/gate.sock, as root\n"
           "                               /run/tavro/gate.sock)\n"
           "  --no-gate                    no door for other programs\n"
           "  --cache-seconds S            how long the mounts trust what they know (default 2)\n"
           "  --quiet                      no progress lines for long transfers\n"
           "  --trace FILE                 packet trace, one line per packet (- for stderr;\n"
           "                               also VANTREL_TRACE in the environment)\n"
           "  --speed BYTES_PER_SECOND     wire speed (0: unlimited; default: the family's cable)\n"
           "  --latency MS                 latency per packet in milliseconds\n"
           "  --fault RULE                 drop:N | late:N[:MS] | truncate:N[:BYTES] | garbage:N "
           "|\n"
           "                               cut:N, optionally N as NxCOUNT and @SERVER "
           "(repeatable)\n" +
           SerialUsage() + "  --help\n";
}

bool ParseDriveSetup(const std::string& text, DriveSetup& drive, std::string& error) {
    drive = DriveSetup();
    size_t equals = text.find('=');
    if (text.size() < 2 || text[1] != ':' || !std::isalpha(static_cast<unsigned char>(text[0])) ||
        equals == std::string::npos) {
        error = "drive must look like M:VOLUME=FOLDER: " + text;
        return false;
    }
    drive.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    drive.volumeName = text.substr(2, equals - 2);
    std::string rest = text.substr(equals + 1);
    size_t comma = rest.find(',');
    drive.folder = rest.substr(0, comma);
    if (drive.folder.empty()) {
        error = "drive has no folder: " + text;
        return false;
    }
    // The simulator may be started from anywhere; a relative folder would depend on where.
    if (drive.folder[0] != '/') {
        error = "drive folder must be an absolute path: " + drive.folder;
        return false;
    }
    std::set<std::string> seen;
    while (comma != std::string::npos) {
        size_t next = rest.find(',', comma + 1);
        std::string option =
            rest.substr(comma + 1, next == std::string::npos ? next : next - comma - 1);
        comma = next;
        std::string name = option.substr(0, option.find('='));
        if (!seen.insert(name).second) {
            error = "drive option given twice: " + name + " in " + text;
            return false;
        }
        uint64 value;
        if (option == "ro") {
            drive.readOnly = true;
        } else if (name == "capacity") {
            if (!ParseUnsigned(option.substr(9), value, true) || value > UINT32_MAX) {
                error =
                    "capacity is a number of bytes from 0 to 4294967295, optionally ending "
                    "in K or M (4095M at most): " +
                    option;
                return false;
            }
            drive.capacity = static_cast<uint32>(value);
        } else if (name == "media") {
            if (!ParseUnsigned(option.substr(6), value, false) || value < handheld::kMediaUnknown ||
                value > handheld::kMediaRam) {
                error =
                    "media is a type from 1 to 7 (2 floppy, 3 disk, 4 flash, 5 ROM, "
                    "6 write-protected, 7 RAM): " +
                    option;
                return false;
            }
            drive.mediaType = static_cast<uint8>(value);
        } else {
            error = "unknown drive option: " + option;
            return false;
        }
    }
    return true;
}

CommandLineResult ParseCommandLine(int argc, const char* const* argv, HostOptions& options,
                                   std::string& error) {
    bool speedGiven = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                error = arg + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        // A value that must not be empty; `need` says what it names.
        auto filled = [&](std::string& out, const char* need) {
            if (!value(out)) return false;
            if (out.empty()) error = arg + " needs " + need;
            return !out.empty();
        };
        std::string text;
        uint64 number;
        if (arg == "--help" || arg == "-h") return CommandLineResult::Help;
        if (arg == "config") {
            // Everything after it belongs to the command.
            options.configCommand = true;
            options.configArguments.assign(argv + i + 1, argv + argc);
            break;
        }
        if (arg == "--series3") {
            options.family = Family::Series3;
        } else if (arg == "--series5") {
            options.family = Family::Series5;
        } else if (arg == "--relaxed-names") {
            options.relaxedNames = true;
        } else if (arg == "--drive") {
            if (!value(text)) return CommandLineResult::Error;
            DriveSetup drive;
            if (!ParseDriveSetup(text, drive, error)) return CommandLineResult::Error;
            for (const DriveSetup& other : options.drives) {
                if (other.letter == drive.letter) {
                    error = std::string("drive ") + drive.letter + ": is given twice";
                    return CommandLineResult::Error;
                }
                // The mount points are named after the volumes: two alike would collide.
                if (!drive.volumeName.empty() &&
                    strcasecmp(other.volumeName.c_str(), drive.volumeName.c_str()) == 0) {
                    error = "volume name " + drive.volumeName + " is given to drives " +
                            other.letter + ": and " + drive.letter + ":";
                    return CommandLineResult::Error;
                }
            }
            options.drives.push_back(drive);
        } else if (arg == "--addons") {
            if (!value(options.addOnFolder)) return CommandLineResult::Error;
        } else if (arg == "--addon") {
            if (!value(text)) return CommandLineResult::Error;
            options.addOnFiles.push_back(text);
        } else if (arg == "--mount-root") {
            if (!value(options.mountRoot)) return CommandLineResult::Error;
            error = CheckMountRoot(options.mountRoot);
            if (!error.empty()) return CommandLineResult::Error;
        } else if (arg == "--settings-dir") {
            if (!filled(options.settingsFolder, "a folder")) return CommandLineResult::Error;
        } else if (arg == "--no-fuse") {
            options.fuse = false;
        } else if (arg == "--allow-other") {
            options.allowOther = true;
        } else if (arg == "--umask") {
            if (!value(text)) return CommandLineResult::Error;
            char* end = nullptr;
            unsigned long mask = std::strtoul(text.c_str(), &end, 8);
            if (text.empty() || *end != 0 || mask > 0777 || text[0] == '-') {
                error = "bad umask (octal, at most 777): " + text;
                return CommandLineResult::Error;
            }
            options.umask = static_cast<uint32>(mask);
        } else if (arg == "--gate") {
            if (!value(options.gateSocket)) return CommandLineResult::Error;
        } else if (arg == "--no-gate") {
            options.gate = false;
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "--cache-seconds") {
            if (!value(text)) return CommandLineResult::Error;
            char* end = nullptr;
            double seconds = std::strtod(text.c_str(), &end);
            if (text.empty() || *end != '\0' || !(seconds >= 0 && seconds <= 3600)) {
                error = "bad cache time: " + text;
                return CommandLineResult::Error;
            }
            options.cacheSeconds = seconds;
        } else if (arg == "--trace") {
            if (!filled(options.traceFile, "a file (- for standard error)"))
                return CommandLineResult::Error;
        } else if (arg == "--speed") {
            if (!value(text)) return CommandLineResult::Error;
            if (!ParseUnsigned(text, number, false) || number > UINT32_MAX) {
                error = "bad speed: " + text;
                return CommandLineResult::Error;
            }
            options.speed.bytesPerSecond = static_cast<uint32>(number);
            speedGiven = true;
        } else if (arg == "--latency") {
            if (!value(text)) return CommandLineResult::Error;
            if (!ParseUnsigned(text, number, false) || number > 60000) {
                error = "bad latency: " + text;
                return CommandLineResult::Error;
            }
            options.speed.latency = static_cast<bigtime_t>(number) * 1000;
        } else if (arg == "--fault") {
            if (!value(text)) return CommandLineResult::Error;
            std::optional<FaultRule> fault = FaultRule::Parse(text);
            if (!fault) {
                error = "bad fault: " + text;
                return CommandLineResult::Error;
            }
            options.faults.push_back(*fault);
        } else if (int taken = ParseSerialOption(argc, argv, i, options.serial, error)) {
            if (taken < 0) return CommandLineResult::Error;
        } else {
            error = "unknown option: " + arg;
            return CommandLineResult::Error;
        }
    }
    if (!speedGiven) {
        LinkSpeed cable = options.family == Family::Series3 ? LinkSpeed::Series3Cable()
                                                            : LinkSpeed::Series5Cable();
        options.speed.bytesPerSecond = cable.bytesPerSecond;
        if (options.speed.latency == 0) options.speed.latency = cable.latency;
    }
    return CommandLineResult::Run;
}

}  // namespace vantrel
