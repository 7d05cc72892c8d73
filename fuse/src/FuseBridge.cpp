#include "fusebridge/FuseBridge.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "LinuxMount.h"
#include "MountSession.h"
#include "kernel/syscalls.h"

namespace fusebridge {

namespace {

std::mutex registry_lock;  // guards the three below
std::map<nspace_id, std::shared_ptr<MountSession>> sessions;
Options options;
bool observing = false;

status_t on_mounted(void*, nspace_id nsid, vnode_id root, const char* where) {
    MountSettings settings;
    bool verbose = false;
    Options chosen;
    {
        std::lock_guard<std::mutex> guard(registry_lock);
        settings.allow_other = options.allow_other && allow_other_permitted();
        verbose = options.verbose;
        uid_t uid;
        gid_t gid;
        invoking_user(&uid, &gid);
        settings.uid = options.uid >= 0 ? static_cast<uid_t>(options.uid) : uid;
        settings.gid = options.gid >= 0 ? static_cast<gid_t>(options.gid) : gid;
        settings.umask = static_cast<mode_t>(options.umask & 0777);
        chosen = options;
    }
    // A volume that says it cannot be changed shows as a read-only Linux mount.
    fs_info info{};
    settings.read_only = vfs_rfsstat(nsid, &info) == B_OK && (info.flags & B_FS_IS_READONLY);
    auto session = std::make_shared<MountSession>(nsid, root, where, settings);
    session->tune(chosen.cache_seconds, chosen.link_bytes_per_second, chosen.transfers);
    status_t status = session->start();
    if (status != B_OK) {
        std::fprintf(stderr, "fuse: cannot mount %s: %s\n", where, be_strerror(status));
        return status;
    }
    if (verbose) std::printf("fuse: %s is mounted\n", where);
    Options told;
    {
        std::lock_guard<std::mutex> guard(registry_lock);
        sessions[nsid] = std::move(session);
        told = options;
    }
    if (told.changed != nullptr) told.changed(told.context, where, true);
    return B_OK;
}

status_t on_unmounting(void*, nspace_id nsid, const char*) {
    std::shared_ptr<MountSession> session;
    bool verbose = false;
    {
        std::lock_guard<std::mutex> guard(registry_lock);
        auto found = sessions.find(nsid);
        if (found == sessions.end()) return B_OK;
        session = found->second;
        verbose = options.verbose;
    }
    status_t status = session->stop(false);
    if (status != B_OK) return status;
    if (verbose) std::printf("fuse: %s is unmounted\n", session->where().c_str());
    Options told;
    {
        std::lock_guard<std::mutex> guard(registry_lock);
        auto found = sessions.find(nsid);
        if (found != sessions.end() && found->second == session) sessions.erase(found);
        told = options;
    }
    if (told.changed != nullptr) told.changed(told.context, session->where().c_str(), false);
    return B_OK;
}

const kernel_mount_observer observer = {on_mounted, on_unmounting, nullptr};

}  // namespace

status_t start(const Options& chosen) {
    {
        std::lock_guard<std::mutex> guard(registry_lock);
        options = chosen;
        observing = true;
    }
    kernel_set_mount_observer(&observer);
    return B_OK;
}

void stop() {
    std::vector<std::shared_ptr<MountSession>> remaining;
    {
        std::lock_guard<std::mutex> guard(registry_lock);
        if (!observing) return;
        observing = false;
    }
    kernel_set_mount_observer(nullptr);
    {
        std::lock_guard<std::mutex> guard(registry_lock);
        for (auto& [nsid, session] : sessions) remaining.push_back(session);
        sessions.clear();
    }
    for (auto& session : remaining) (void)session->stop(true);
}

int open_file_count() {
    std::lock_guard<std::mutex> guard(registry_lock);
    int count = 0;
    for (auto& [nsid, session] : sessions) count += session->open_file_count();
    return count;
}

int mount_count() {
    std::lock_guard<std::mutex> guard(registry_lock);
    return static_cast<int>(sessions.size());
}

void invoking_user(uid_t* uid, gid_t* gid) {
    *uid = getuid();
    *gid = getgid();
    if (geteuid() != 0) return;
    const char* sudo_uid = std::getenv("SUDO_UID");
    const char* sudo_gid = std::getenv("SUDO_GID");
    if (sudo_uid == nullptr || sudo_gid == nullptr) return;
    char* end = nullptr;
    unsigned long u = std::strtoul(sudo_uid, &end, 10);
    if (*sudo_uid == 0 || *end != 0 || u > 0xFFFFFFFEul) return;
    unsigned long g = std::strtoul(sudo_gid, &end, 10);
    if (*sudo_gid == 0 || *end != 0 || g > 0xFFFFFFFEul) return;
    *uid = static_cast<uid_t>(u);
    *gid = static_cast<gid_t>(g);
}

bool available(std::string* reason) {
    int fd = open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        if (reason != nullptr) *reason = std::string("/dev/fuse: ") + std::strerror(errno);
        return false;
    }
    close(fd);
    if (geteuid() != 0 && access("/usr/bin/fusermount3", X_OK) != 0 &&
        access("/bin/fusermount3", X_OK) != 0) {
        if (reason != nullptr) *reason = "fusermount3 is not installed";
        return false;
    }
    return true;
}

}  // namespace fusebridge
