// The drives of a simulated handheld mounted on Linux through the whole product: a temporary
// folder holding the drives' host folders, the in-process host (host link, tavro-mount and the
// file systems as add-ons) and the FUSE bridge. The packet trace may be kept in memory so that
// tests and benchmarks can count what crossed the link.
#pragma once

#include <memory>
#include <string>

#include "device/PacketTrace.h"
#include "fusebridge/FuseBridge.h"
#include "host/HostLink.h"

namespace linktest {

// Whether what Prepare or Start said means the test cannot run here (no FUSE).
bool Skipped(const std::string& why);

class LinkedMount {
public:
    LinkedMount() = default;
    ~LinkedMount();  // Stop(), and the folder removed unless something is still mounted in it
    LinkedMount(const LinkedMount&) = delete;
    LinkedMount& operator=(const LinkedMount&) = delete;

    // Makes the temporary folder `<prefix>XXXXXX`. Empty when all went well, else why not
    // (FUSE missing is "skip: ...").
    std::string Prepare(const char* prefix);
    // Adds a drive on the empty host folder `folder()/<name>`. The reference holds until the
    // next AddDrive.
    vantrel::DriveSetup& AddDrive(char letter, const std::string& volume, const std::string& name);
    // The host's options: the drives added, and whatever else the test sets before Start.
    vantrel::HostOptions options;
    // Starts the bridge, the host and the link, and waits for every drive's Linux mount.
    std::string Start(const fusebridge::Options& bridge = {});
    // Brings the link up again and waits for the mounts.
    std::string LinkUp();
    // Brings the link down and stops the host and the bridge: what is still mounted in the
    // folder after that (nothing, when all went well).
    std::string Stop();

    const std::string& folder() const { return folder_; }
    const std::string& root() const { return root_; }  // where the host mounts the drives
    std::string mount(const std::string& volume) const { return root_ + "/" + volume; }
    vantrel::HostLink& host() { return *host_; }
    handheld::PacketTrace& trace() { return host_->Trace(); }

private:
    std::string folder_, root_;
    std::unique_ptr<vantrel::HostLink> host_;
    bool bridge_ = false;
};

// One drive M: "INTERNAL" of a Series 3, with the trace in memory, as the tests of the link's
// economy use it.
struct MountSetup {
    double cache_seconds = 2.0;
    // The link model's speed; the bridge's read-ahead follows `readahead_speed` when it is
    // set, else this speed.
    handheld::LinkSpeed speed = handheld::LinkSpeed::Unlimited();
    uint32 readahead_speed = 0;
    fusebridge::TransferListener* transfers = nullptr;
};

class LinkedDrive {
public:
    // Empty when all went well, else why not (FUSE missing is "skip: ...").
    std::string Start(const MountSetup& setup);

    const std::string& drive() const { return drive_; }  // the drive's host folder
    const std::string& mount() const { return mount_; }  // its Linux mount
    const std::string& folder() const { return linked_.folder(); }
    handheld::PacketTrace& trace() { return linked_.trace(); }

private:
    LinkedMount linked_;
    std::string drive_, mount_;
};

// What crossed the link among the trace's records: requests of one opcode, the bytes they asked
// for (FREAD), and every request and reply byte.
struct Traffic {
    uint32 requests = 0;
    uint32 reads = 0;
    uint64 read_bytes_asked = 0;
    uint64 wire_bytes = 0;
};
Traffic traffic_of(const handheld::PacketTrace& trace);

}  // namespace linktest
