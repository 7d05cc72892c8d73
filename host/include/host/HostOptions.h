// What a host link application runs: which handheld it simulates, the folders behind the
// drives, the client add-ons it loads, and the link's speed, trace and faults.
#pragma once

#include <string>
#include <vector>

#include "device/DriveSetup.h"
#include "device/Faults.h"
#include "device/Handheld.h"
#include "device/LinkModel.h"
#include "host/SerialOptions.h"

namespace vantrel {

using handheld::DriveSetup;
using handheld::Family;
using handheld::FaultKind;
using handheld::FaultRule;
using handheld::LinkSpeed;

struct HostOptions {
    Family family = Family::Series3;
    std::vector<DriveSetup> drives;
    bool relaxedNames = false;

    // Client add-ons: every "*.so" in the folder (in name order), then the listed files.
    // Neither given: no add-ons, only the router and the device.
    std::string addOnFolder;
    std::vector<std::string> addOnFiles;
    // Mount root handed to an add-on that keeps one in its configuration (the mount client,
    // host/MountClientSettings.h), the way its settings view would set it. Empty: its default.
    std::string mountRoot;
    // Folder of the add-ons' lasting settings (host/Settings.h), read after each add-on's
    // Initialise and before mountRoot is applied. Empty: nothing is read.
    std::string settingsFolder;
    // `vantrel [options] config [KEY=VALUE...]`: show or change the settings instead of
    // running a link (host/ConfigCommand.h); the arguments after "config".
    bool configCommand = false;
    std::vector<std::string> configArguments;
    // vantrel only: export every mounted volume as a Linux (FUSE) mount at its mount point.
    bool fuse = true;
    // Linux mounts: other users get in only when allowed; modes less this umask.
    bool allowOther = false;
    uint32 umask = 022;
    // vantrel only: the gateway's door for other programs (host/GateServer.h), at gateSocket
    // or, when empty, at the default place.
    bool gate = true;
    std::string gateSocket;
    // vantrel only: how long the Linux mounts trust what they were told before asking the
    // handheld again (names, sizes, listings, file contents).
    double cacheSeconds = 2.0;
    // vantrel only: no progress lines for long transfers through the mounts.
    bool quiet = false;

    // Packet trace: lines to this file ("-": standard error) and, for tests, kept in memory.
    std::string traceFile;
    bool traceInMemory = false;

    LinkSpeed speed = LinkSpeed::Unlimited();
    std::vector<FaultRule> faults;
    // Seed of the random bytes of garbage replies.
    uint32 faultSeed = 0x5EED;

    // vantrel only: the handheld over a serial line instead of inside the process.
    SerialOptions serial;
};

}  // namespace vantrel
