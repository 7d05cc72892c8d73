// A drive of a simulated Series 3 mounted on Linux through the whole product (host link,
// tavro-mount, tavro3, FUSE bridge), with the packet trace kept in memory so that tests and
// benchmarks can count what crossed the link.
#pragma once

#include <memory>
#include <string>

#include "device/PacketTrace.h"
#include "fusebridge/FuseBridge.h"
#include "host/HostLink.h"

namespace linktest {

struct MountSetup {
    double cache_seconds = 2.0;
    // The link model's speed; the bridge's read-ahead follows `readahead_speed` when it is
    // set, else this speed.
    handheld::LinkSpeed speed = handheld::LinkSpeed::Unlimited();
    uint32 readahead_speed = 0;
    fusebridge::TransferListener* transfers = nullptr;
};

class LinkedMount {
public:
    LinkedMount() = default;
    ~LinkedMount();  // link down, bridge stopped, folder removed

    // Empty when all went well, else why not (FUSE missing is "skip: ...").
    std::string Start(const MountSetup& setup);

    const std::string& drive() const { return drive_; }  // the drive's host folder
    const std::string& mount() const { return mount_; }  // its Linux mount
    const std::string& folder() const { return folder_; }
    handheld::PacketTrace& trace() { return host_->Trace(); }

private:
    std::string folder_, drive_, mount_;
    std::unique_ptr<vantrel::HostLink> host_;
    bool bridge_ = false;
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
