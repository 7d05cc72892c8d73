// vantrel: the host link application. Simulates the handheld at the other end of the cable,
// brings the link up at start and down on SIGINT or SIGTERM, letting the add-ons unmount.
#include <signal.h>

#include <cstdio>

#include "ApplicationSeam.h"
#include "host/CommandLine.h"
#include "host/ConfigCommand.h"
#include "host/HostLink.h"
#include "host/Settings.h"

int main(int argc, char** argv) {
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
    if (options.configCommand) {
        return vantrel::RunConfigCommand(options.configArguments, options.addOnFolder,
                                         options.addOnFiles, options.settingsFolder);
    }

    // Every thread started from here on inherits the blocked signals; only sigwait below
    // takes them, so the link goes down in an orderly way.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    vantrel::HostLink host(options);
    status_t status = host.Start();
    if (status != B_OK) {
        fprintf(stderr, "vantrel: cannot start: %s\n", be_strerror(status));
        return 1;
    }
    vantrel::StartApplication(argc, argv);

    status = host.LinkUp();
    if (status != B_OK) {
        fprintf(stderr, "vantrel: link not up: %s\n", be_strerror(status));
        vantrel::QuitApplication();
        return 1;
    }
    printf("vantrel: Series %d link up, %zu drive(s), %zu add-on(s)\n", host.FamilyVersion(),
           options.drives.size(), host.AddOns().size());
    fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    printf("vantrel: %s, taking the link down\n", signal == SIGINT ? "SIGINT" : "SIGTERM");
    fflush(stdout);
    host.LinkDown();
    vantrel::QuitApplication();
    printf("vantrel: link down, exiting\n");
    return 0;
}
