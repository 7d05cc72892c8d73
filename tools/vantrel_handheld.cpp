// vantrel-handheld: a simulated Series 3 or Series 5 alone at the end of a pseudo-terminal.
// It prints the pty's path; `vantrel --port PATH` then reaches it through the serial link, as
// through a null-modem cable. Ctrl-C ends it.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "device/LineHandheld.h"

namespace {

int Usage(const char* error) {
    if (error) fprintf(stderr, "vantrel-handheld: %s\n", error);
    fputs(
        "Usage: vantrel-handheld [--series3 | --series5] --drive L:VOLUME=FOLDER [...]\n"
        "                        [--baud N] [--speed BYTES_PER_SECOND] [--line-fault RULE]\n"
        "  --baud N            the handheld's Remote link speed (default 19200, Series 5 115200)\n"
        "  --speed B           bytes a second on the line (default baud/10; 0 unlimited)\n"
        "  --line-fault RULE   flip:N drop:N dup:N delay:N:MS noise:N:BYTES cut:N[:MS]\n"
        "                      corrupt:PERCENT, on the frames the handheld sends\n",
        error ? stderr : stdout);
    return error ? 2 : 0;
}

bool ParseDrive(const std::string& text, handheld::DriveSetup& drive) {
    size_t equals = text.find('=');
    if (text.size() < 4 || text[1] != ':' || equals == std::string::npos) return false;
    drive.letter = static_cast<char>(toupper(static_cast<unsigned char>(text[0])));
    drive.volumeName = text.substr(2, equals - 2);
    drive.folder = text.substr(equals + 1);
    return !drive.folder.empty();
}

}  // namespace

int main(int argc, char** argv) {
    handheld::LineHandheldOptions options;
    bool baudGiven = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "--help" || arg == "-h") return Usage(nullptr);
        if (arg == "--series3") {
            options.device.family = handheld::Family::Series3;
        } else if (arg == "--series5") {
            options.device.family = handheld::Family::Series5;
        } else if (arg == "--relaxed-names") {
            options.device.relaxedNames = true;
        } else if (arg == "--drive") {
            const char* value = next();
            handheld::DriveSetup drive;
            if (!value || !ParseDrive(value, drive)) return Usage("bad --drive");
            options.device.drives.push_back(drive);
        } else if (arg == "--baud") {
            const char* value = next();
            if (!value) return Usage("--baud needs a value");
            options.baud = static_cast<uint32>(strtoul(value, nullptr, 10));
            baudGiven = true;
        } else if (arg == "--speed") {
            const char* value = next();
            if (!value) return Usage("--speed needs a value");
            options.bytesPerSecond = strtoll(value, nullptr, 10);
        } else if (arg == "--line-fault") {
            const char* value = next();
            std::optional<wire::LineFault> fault;
            if (value) fault = wire::LineFault::Parse(value);
            if (!fault) return Usage("bad --line-fault");
            options.faults.push_back(*fault);
        } else {
            return Usage(("unknown option: " + arg).c_str());
        }
    }
    if (!baudGiven && options.device.family == handheld::Family::Series5) options.baud = 115200;

    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    std::string error;
    std::unique_ptr<handheld::LineHandheld> device = handheld::LineHandheld::OnPty(options, error);
    if (!device) {
        fprintf(stderr, "vantrel-handheld: %s\n", error.c_str());
        return 1;
    }
    printf("%s\n", device->Path().c_str());
    printf("vantrel-handheld: simulated Series %d at %u baud on %s; Ctrl-C ends it\n",
           static_cast<int>(options.device.family), options.baud, device->Path().c_str());
    fflush(stdout);
    int signal = 0;
    sigwait(&stop, &signal);
    return 0;
}
