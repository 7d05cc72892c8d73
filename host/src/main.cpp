// vantrel: the host link application. Simulates the handheld at the other end of the cable,
// brings the link up at start and down on SIGINT, SIGTERM or SIGHUP (SIGQUIT: the same, but
// mounts still in use are detached at once), letting the add-ons unmount.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "ApplicationSeam.h"
#include "host/CommandLine.h"
#include "host/ConfigCommand.h"
#include "host/DesktopNotice.h"
#include "host/GateServer.h"
#include "host/HostLink.h"
#include "host/InstallLayout.h"
#include "host/LinkNotices.h"
#include "host/MountClientSettings.h"
#include "host/ProgressDisplay.h"
#include "host/SerialSetup.h"
#include "host/Settings.h"
#include "host/StartChecks.h"
#ifdef TAVRO_WITH_FUSE
#include "fusebridge/FuseBridge.h"
#endif

namespace {

#ifdef TAVRO_WITH_FUSE
// Long transfers through the mounts, shown on vantrel's standard output.
class TransferProgress : public fusebridge::TransferListener {
public:
    TransferProgress() : fDisplay(vantrel::ProgressDisplay::ForDescriptor(STDOUT_FILENO)) {
        fDisplay.StartThread();
    }
    void transfer_started(uint64_t id, const std::string& name, uint64_t size,
                          bool writing) override {
        fDisplay.Started(id, name, size, writing);
    }
    void transfer_moved(uint64_t id, uint64_t bytes) override { fDisplay.Moved(id, bytes); }
    void transfer_ended(uint64_t id) override { fDisplay.Ended(id); }

private:
    vantrel::ProgressDisplay fDisplay;
};
#endif

// Every volume mounted from now on also becomes a Linux mount at its mount point.
bool StartLinuxMounts(const vantrel::HostOptions& options, vantrel::DesktopNotice* notice) {
#ifdef TAVRO_WITH_FUSE
    if (!options.fuse) return false;
    std::string reason;
    if (!fusebridge::available(&reason)) {
        fprintf(stderr, "vantrel: no Linux mounts (%s); the volumes stay inside the host\n",
                reason.c_str());
        return false;
    }
    fusebridge::Options bridge;
    bridge.verbose = true;
    bridge.context = notice;
    bridge.changed = [](void* context, const char* where, bool mounted) {
        if (mounted) static_cast<vantrel::DesktopNotice*>(context)->DriveMounted(where);
    };
    bridge.cache_seconds = options.cacheSeconds;
    bridge.link_bytes_per_second = options.speed.bytesPerSecond;
    // Lives as long as the process: serving threads may report until the mounts are gone.
    if (!options.quiet) bridge.transfers = new TransferProgress;
    bridge.allow_other = options.allowOther;
    bridge.umask = options.umask;
    return fusebridge::start(bridge) == B_OK;
#else
    (void)options;
    (void)notice;
    return false;
#endif
}

// With Linux mounts, a second signal, SIGQUIT, or a long wait detaches the ones still in use
// (HostLink::BusyMounts) so that the host can stop.
void TakeLinkDown(vantrel::HostLink& host, const sigset_t& signals, bool linuxMounts,
                  bool detachAtOnce) {
    if (!linuxMounts) {
        host.LinkDown();
        return;
    }
#ifdef TAVRO_WITH_FUSE
    vantrel::HostLink::BusyMounts busy;
    busy.signals = signals;
    busy.detachAtOnce = detachAtOnce;
    busy.detach = [] { fusebridge::stop(); };
    host.LinkDown(busy);
    fusebridge::stop();
#else
    (void)signals;
    (void)detachAtOnce;
#endif
}

// fds 0 to 2 stay taken (by /dev/null when closed), so that no file opened later becomes
// standard input or output by accident.
void KeepStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        int null = open("/dev/null", O_RDWR);
        if (null >= 0 && null != fd) close(null);
    }
}

// The mount root the mount client will use, as its settings view shows it once the settings
// are in.
std::string MountRootOf(const vantrel::HostLink& host) {
    for (const auto& addOn : host.AddOns()) {
        vantrel::ClientSettings settings;
        std::string error;
        if (vantrel::ReadThroughConfigView(*addOn, settings, error) == B_OK)
            return settings.mountRoot;
    }
    return "";
}

const char* SignalName(int signal) {
    switch (signal) {
        case SIGINT:
            return "SIGINT";
        case SIGHUP:
            return "SIGHUP";
        case SIGQUIT:
            return "SIGQUIT";
        default:
            return "SIGTERM";
    }
}

}  // namespace

int main(int argc, char** argv) {
    KeepStandardDescriptors();
    // Lines reach a log or a pipe as they are written, not when the host exits.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    // A reader that went away (`vantrel | head -1`) must not kill the host with drives mounted:
    // writes to it just fail.
    signal(SIGPIPE, SIG_IGN);

    vantrel::HostOptions options;
    std::string error;
    switch (vantrel::ParseCommandLine(argc, argv, options, error)) {
        case vantrel::CommandLineResult::Help:
            fputs(vantrel::Usage().c_str(), stdout);
            return 0;
        case vantrel::CommandLineResult::Error:
            fprintf(stderr, "vantrel: %s\n%s", error.c_str(), vantrel::Usage().c_str());
            return 2;
        case vantrel::CommandLineResult::Run:
            break;
    }
    if (options.settingsFolder.empty()) options.settingsFolder = vantrel::DefaultSettingsFolder();
    // Relative to where vantrel was started, the same for the link and for `config`.
    options.settingsFolder = vantrel::AbsolutePath(options.settingsFolder);
    vantrel::ApplyInstallDefaults(options);
    if (options.configCommand) {
        return vantrel::RunConfigCommand(options.configArguments, options.addOnFolder,
                                         options.addOnFiles, options.settingsFolder);
    }

    if (!vantrel::CheckDriveFolders(options, error)) {
        fprintf(stderr, "vantrel: %s\n", vantrel::Escape(error).c_str());
        return 2;
    }

    // Every thread started from here on inherits the blocked signals; only sigwait below
    // takes them, so the link goes down in an orderly way.
    // A shell starts background jobs with SIGINT ignored, and an ignored signal never reaches
    // sigwait: take them back.
    const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (int stop : kStopSignals) {
        signal(stop, SIG_DFL);
        sigaddset(&stopSignals, stop);
    }
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    vantrel::HostLink host(options);
    status_t status = host.Start();
    if (status != B_OK) {
        // A bad value is an option that cannot work (the trace file); Start said which.
        if (status == B_BAD_VALUE) return 2;
        fprintf(stderr, "vantrel: cannot start: %s\n", be_strerror(status));
        return 1;
    }
    vantrel::DesktopNotice notice(host.FamilyVersion());
    vantrel::LinkNotices linkNotices(host, notice);
    bool linuxMounts = StartLinuxMounts(options, &notice);
    // Two hosts on one mount root would mount over each other's drives. The lock lasts as
    // long as the process: its descriptor is never closed.
    std::string mountRoot = MountRootOf(host);
    if (linuxMounts && !mountRoot.empty()) {
        vantrel::MountRootLock lock = vantrel::LockMountRoot(mountRoot);
        if (lock == vantrel::MountRootLock::Taken) {
            fprintf(stderr,
                    "vantrel: another vantrel already serves the mount root %s; stop it first "
                    "or give another --mount-root\n",
                    vantrel::Escape(mountRoot).c_str());
#ifdef TAVRO_WITH_FUSE
            fusebridge::stop();
#endif
            return 1;
        }
    }
    vantrel::StartApplication(argc, argv);
    vantrel::GateServer::Options gateOptions;
    gateOptions.socketPath = options.gateSocket;
    vantrel::GateServer door(host, gateOptions);
    std::string doorMessage;
    bool doorOpen = options.gate && door.Start(doorMessage) == B_OK;
    if (options.gate && !doorOpen)
        fprintf(stderr, "vantrel: %s; running without a gateway door\n", doorMessage.c_str());

    // Over a serial line the link comes and goes with the handheld; else it is up at once.
    std::unique_ptr<vantrel::SerialSetup> serial;
    if (options.serial.Used()) {
        serial = vantrel::StartSerial(host, options, error);
        if (!serial) {
            fprintf(stderr, "vantrel: %s\n", error.c_str());
            door.Stop();
            vantrel::QuitApplication();
            return 1;
        }
        if (doorOpen) printf("vantrel: %s\n", doorMessage.c_str());
        fflush(stdout);
    } else {
        status = host.LinkUp();
        if (status != B_OK) {
            fprintf(stderr, "vantrel: link not up: %s\n", be_strerror(status));
            TakeLinkDown(host, stopSignals, linuxMounts, true);
            door.Stop();
            vantrel::QuitApplication();
            return 1;
        }
        printf("vantrel: Series %d link up, %zu drive(s), %zu add-on(s)\n", host.FamilyVersion(),
               options.drives.size(), host.AddOns().size());
        if (doorOpen) printf("vantrel: %s\n", doorMessage.c_str());
        fflush(stdout);
    }

    // Waits for a stop signal, looking at the link now and then: a cut ends the run too.
    int signal = 0;
    while (signal <= 0) {
        timespec tick = {0, 200 * 1000000L};
        signal = sigtimedwait(&stopSignals, nullptr, &tick);
        // A serial link that drops is listened for again; only the simulated one ends the run.
        if (signal <= 0 && !serial && (host.WasCut() || !host.IsLinkUp())) break;
    }
    if (signal <= 0) {
        printf(
            "vantrel: the link to the handheld was cut; its drives cannot be reached any more "
            "and are being unmounted\n");
        TakeLinkDown(host, stopSignals, linuxMounts, false);
        door.Stop();
        vantrel::QuitApplication();
        printf("vantrel: link down, exiting\n");
        return 1;
    }
    printf("vantrel: %s, taking the link down\n", SignalName(signal));
    fflush(stdout);
    if (serial) serial->link->RequestStop();
    TakeLinkDown(host, stopSignals, linuxMounts, signal == SIGQUIT);
    serial.reset();
    door.Stop();
    vantrel::QuitApplication();
    printf("vantrel: link down, exiting\n");
    return 0;
}
