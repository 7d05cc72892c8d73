// Turning the kernel's nodes into FUSE entries: lookups, removals and attribute changes.
#define FUSE_USE_VERSION 35
#include "NodeEntries.h"

#include <cstring>
#include <ctime>

#include "FileCaching.h"
#include "StatConvert.h"
#include "kernel/syscalls.h"

namespace fusebridge {

namespace {

// Names are found regardless of letter case, so one file has many names the Linux kernel
// could cache ("case1.txt", "CASE1.TXT", ...), and a rename, unlink or replace through one of
// them would leave the others showing the old file. No name is cached: every path walk asks
// the volume, whose lookups are answered from its own cache without a device request.
constexpr double kEntrySeconds = 0;

void put_references(MountSession& session, vnode_id vnid, uint64_t count) {
    for (uint64_t i = 0; i < count; i++) (void)vfs_put(session.nsid(), vnid);
}

}  // namespace

[[nodiscard]] status_t node_of(MountSession& session, fuse_ino_t ino, vnode_id* vnid) {
    return session.nodes().resolve(ino, vnid) ? B_OK : B_ENTRY_NOT_FOUND;
}

[[nodiscard]] status_t stat_node(MountSession& session, vnode_id vnid, struct stat* st) {
    be_stat volume_stat{};
    status_t status = vfs_stat(session.nsid(), vnid, &volume_stat);
    if (status != B_OK) return status;
    *st = linux_stat(volume_stat, session.owner_uid(), session.owner_gid(), session.umask());
    // A drive's root is no entry of a folder on the device and has no time of its own; 1970
    // would say nothing true.
    if (vnid == session.nodes().root() && st->st_mtim.tv_sec == 0) {
        st->st_mtim.tv_sec = st->st_ctim.tv_sec = st->st_atim.tv_sec = session.mounted_at();
    }
    return B_OK;
}

void forget_lookups(MountSession& session, fuse_ino_t ino, uint64_t count) {
    vnode_id vnid = 0;
    uint64_t references = session.nodes().forget(ino, count, &vnid);
    put_references(session, vnid, references);
    if (!session.nodes().resolve(ino, &vnid)) session.transfers().forgotten(ino);
}

[[nodiscard]] status_t make_entry(MountSession& session, vnode_id vnid, fuse_entry_param* entry) {
    std::memset(entry, 0, sizeof *entry);
    status_t status = stat_node(session, vnid, &entry->attr);
    if (status != B_OK) {
        (void)vfs_put(session.nsid(), vnid);
        return status;
    }
    NodeTable::Lookup lookup = session.nodes().add_lookup(vnid);
    if (lookup.give_back) (void)vfs_put(session.nsid(), vnid);
    entry->ino = lookup.ino;
    entry->attr_timeout = session.cache().seconds();
    entry->entry_timeout = kEntrySeconds;
    return B_OK;
}

void release_detached(MountSession& session, vnode_id vnid) {
    put_references(session, vnid, session.nodes().detach(vnid));
}

namespace {

// The folder `parent` and, with a reference taken, its entry `name`.
[[nodiscard]] status_t find_child(MountSession& session, fuse_ino_t parent, const char* name,
                                  vnode_id* dir, vnode_id* vnid) {
    status_t status = node_of(session, parent, dir);
    if (status != B_OK) return status;
    return vfs_lookup(session.nsid(), *dir, name, vnid);
}

}  // namespace

[[nodiscard]] status_t lookup_entry(MountSession& session, fuse_ino_t parent, const char* name,
                                    fuse_entry_param* entry) {
    vnode_id dir = 0;
    vnode_id vnid = 0;
    status_t status = find_child(session, parent, name, &dir, &vnid);
    if (status != B_OK) return status;
    status = refresh_looked_up(session, dir, vnid);
    if (status != B_OK) {
        (void)vfs_put(session.nsid(), vnid);
        return status;
    }
    return make_entry(session, vnid, entry);
}

[[nodiscard]] status_t remove_entry(MountSession& session, fuse_ino_t parent, const char* name,
                                    bool directory) {
    vnode_id dir = 0;
    vnode_id vnid = 0;
    status_t status = find_child(session, parent, name, &dir, &vnid);
    if (status != B_OK) return status;
    // A handle kept open would hold the file on the device past its removal.
    session.lingering().close_node(vnid);
    status =
        directory ? vfs_rmdir(session.nsid(), dir, name) : vfs_unlink(session.nsid(), dir, name);
    session.cache().directory_changed(dir);
    if (status == B_OK) release_detached(session, vnid);
    (void)vfs_put(session.nsid(), vnid);
    return status;
}

[[nodiscard]] status_t set_attributes(MountSession& session, fuse_ino_t ino,
                                      const struct stat& attr, int to_set, struct stat* result) {
    vnode_id vnid = 0;
    status_t status = node_of(session, ino, &vnid);
    if (status != B_OK) return status;
    be_stat change{};
    uint32 mask = 0;
    // Each field the caller asks for goes into the change, and its bit into the mask.
    auto take = [&](int asked, uint32 bit, auto& field, const auto& value) {
        if (!(to_set & asked)) return;
        mask |= bit;
        field = value;
    };
    take(FUSE_SET_ATTR_MODE, WSTAT_MODE, change.st_mode, attr.st_mode);
    take(FUSE_SET_ATTR_UID, WSTAT_UID, change.st_uid, attr.st_uid);
    take(FUSE_SET_ATTR_GID, WSTAT_GID, change.st_gid, attr.st_gid);
    take(FUSE_SET_ATTR_SIZE, WSTAT_SIZE, change.st_size, attr.st_size);
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    auto take_time = [&](int asked, int asked_now, uint32 bit, be_timespec& field,
                         const timespec& value) {
        const timespec& t = (to_set & asked_now) ? now : value;
        take(asked | asked_now, bit, field, be_timespec{t.tv_sec, t.tv_nsec});
    };
    take_time(FUSE_SET_ATTR_ATIME, FUSE_SET_ATTR_ATIME_NOW, WSTAT_ATIME, change.st_atim,
              attr.st_atim);
    take_time(FUSE_SET_ATTR_MTIME, FUSE_SET_ATTR_MTIME_NOW, WSTAT_MTIME, change.st_mtim,
              attr.st_mtim);
    if (mask & (WSTAT_SIZE | WSTAT_MTIME)) {
        // The device empties a file by opening it anew; no kept handle may stand in the way.
        if (mask & WSTAT_SIZE) session.lingering().close_node(vnid);
        session.cache().file_changed(vnid);
    }
    if (mask != 0) {
        status = vfs_wstat(session.nsid(), vnid, &change, mask);
        if (status != B_OK) return status;
    }
    return stat_node(session, vnid, result);
}
}  // namespace fusebridge
