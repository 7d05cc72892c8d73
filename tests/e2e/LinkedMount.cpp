#include "LinkedMount.h"

#include <chrono>
#include <thread>

#include "kernel/syscalls.h"
#include "platform/Series3Wire.h"
#include "shell.h"

namespace linktest {

using fusetest::quote;
using fusetest::run;

LinkedMount::~LinkedMount() {
    if (host_) {
        (void)host_->LinkDown();
        host_.reset();
    }
    if (bridge_) fusebridge::stop();
    if (!folder_.empty() && !fusetest::mounted_at(mount_)) fusetest::remove_tree(folder_);
}

std::string LinkedMount::Start(const MountSetup& setup) {
    std::string reason;
    if (!fusebridge::available(&reason)) return "skip: FUSE is not available: " + reason;
    folder_ = fusetest::make_temporary_folder("tavro-link-");
    if (folder_.empty()) return "no temporary folder";
    drive_ = folder_ + "/drive";
    mount_ = folder_ + "/psion/INTERNAL";
    if (run("mkdir -p " + quote(drive_)).status != 0) return "cannot make " + drive_;

    kernel_set_addon_path(TAVRO_FS_ADDON_DIR);
    vantrel::HostOptions options;
    vantrel::DriveSetup drive;
    drive.letter = 'M';
    drive.volumeName = "INTERNAL";
    drive.folder = drive_;
    drive.capacity = 16 * 1024 * 1024;
    options.drives.push_back(drive);
    options.addOnFiles.push_back(std::string(TAVRO_CLIENT_ADDON_DIR) + "/tavro-mount.so");
    options.mountRoot = folder_ + "/psion";
    options.traceInMemory = true;
    options.speed = setup.speed;
    host_ = std::make_unique<vantrel::HostLink>(options);

    fusebridge::Options bridge;
    bridge.cache_seconds = setup.cache_seconds;
    bridge.link_bytes_per_second =
        setup.readahead_speed != 0 ? setup.readahead_speed : setup.speed.bytesPerSecond;
    bridge.transfers = setup.transfers;
    if (fusebridge::start(bridge) != B_OK) return "the bridge did not start";
    bridge_ = true;
    if (host_->Start() != B_OK || host_->LinkUp() != B_OK) return "the link did not come up";
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!fusetest::mounted_at(mount_)) {
        if (std::chrono::steady_clock::now() > end) return "the drive did not appear at " + mount_;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return "";
}

Traffic traffic_of(const handheld::PacketTrace& trace) {
    Traffic traffic;
    for (const handheld::TraceRecord& record : trace.Records()) {
        bool request = record.event == handheld::TraceEvent::Request;
        if (!request && record.event != handheld::TraceEvent::Reply) continue;
        traffic.wire_bytes += record.bytes.size();
        if (!request) continue;
        traffic.requests++;
        if (record.bytes.size() >= 8 && record.bytes[0] == FREAD && record.bytes[1] == 0) {
            traffic.reads++;
            traffic.read_bytes_asked += record.bytes[6] | (record.bytes[7] << 8);
        }
    }
    return traffic;
}

}  // namespace linktest
