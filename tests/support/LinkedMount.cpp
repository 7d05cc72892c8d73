#include "LinkedMount.h"

#include <chrono>

#include "kernel/syscalls.h"
#include "platform/Series3Wire.h"
#include "shell.h"

namespace linktest {

using fusetest::quote;
using fusetest::run;

bool Skipped(const std::string& why) { return why.rfind("skip: ", 0) == 0; }

LinkedMount::~LinkedMount() {
    (void)Stop();
    if (!folder_.empty() && fusetest::mounts_below(folder_).empty()) fusetest::remove_tree(folder_);
}

std::string LinkedMount::Prepare(const char* prefix) {
    std::string reason;
    if (!fusebridge::available(&reason)) return "skip: FUSE is not available: " + reason;
    folder_ = fusetest::make_temporary_folder(prefix);
    if (folder_.empty()) return "no temporary folder";
    root_ = folder_ + "/psion";
    options.addOnFiles.push_back(std::string(TAVRO_CLIENT_ADDON_DIR) + "/tavro-mount.so");
    options.mountRoot = root_;
    return "";
}

vantrel::DriveSetup& LinkedMount::AddDrive(char letter, const std::string& volume,
                                           const std::string& name) {
    vantrel::DriveSetup drive;
    drive.letter = letter;
    drive.volumeName = volume;
    drive.folder = folder_ + "/" + name;
    (void)run("mkdir -p " + quote(drive.folder));
    options.drives.push_back(drive);
    return options.drives.back();
}

std::string LinkedMount::Start(const fusebridge::Options& bridge) {
    kernel_set_addon_path(TAVRO_FS_ADDON_DIR);
    host_ = std::make_unique<vantrel::HostLink>(options);
    if (fusebridge::start(bridge) != B_OK) return "the bridge did not start";
    bridge_ = true;
    if (host_->Start() != B_OK) return "the host did not start";
    return LinkUp();
}

std::string LinkedMount::LinkUp() {
    if (host_->LinkUp() != B_OK) return "the link did not come up";
    for (const vantrel::DriveSetup& drive : options.drives) {
        std::string where = mount(drive.volumeName);
        if (!fusetest::wait_for([&] { return fusetest::mounted_at(where); },
                                std::chrono::seconds(10)))
            return "the drive did not appear at " + where;
    }
    return "";
}

std::string LinkedMount::Stop() {
    if (host_) {
        (void)host_->LinkDown();
        host_.reset();
    }
    if (bridge_) fusebridge::stop();
    bridge_ = false;
    return folder_.empty() ? "" : fusetest::mounts_below(folder_);
}

std::string LinkedDrive::Start(const MountSetup& setup) {
    std::string why = linked_.Prepare("tavro-link-");
    if (!why.empty()) return why;
    vantrel::DriveSetup& drive = linked_.AddDrive('M', "INTERNAL", "drive");
    drive.capacity = 16 * 1024 * 1024;
    drive_ = drive.folder;
    mount_ = linked_.mount("INTERNAL");
    linked_.options.traceInMemory = true;
    linked_.options.speed = setup.speed;
    fusebridge::Options bridge;
    bridge.cache_seconds = setup.cache_seconds;
    bridge.link_bytes_per_second =
        setup.readahead_speed != 0 ? setup.readahead_speed : setup.speed.bytesPerSecond;
    bridge.transfers = setup.transfers;
    return linked_.Start(bridge);
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
