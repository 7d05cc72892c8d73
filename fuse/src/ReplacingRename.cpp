// Renames as Linux makes them: onto an existing name, the target is replaced.
#define FUSE_USE_VERSION 35
#include "ReplacingRename.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "NodeEntries.h"
#include "kernel/syscalls.h"

namespace fusebridge {

namespace {

// A name for moving a rename's target aside, free in `dir` and valid as a DOS 8.3 name.
[[nodiscard]] status_t aside_name(MountSession& session, vnode_id dir, std::string* name) {
    static std::atomic<uint32_t> counter{0};
    for (int attempt = 0; attempt < 16; attempt++) {
        char text[16];
        std::snprintf(text, sizeof text, "~TV%05X.$$$", counter.fetch_add(1) & 0xFFFFF);
        vnode_id found = 0;
        status_t status = vfs_lookup(session.nsid(), dir, text, &found);
        if (status == B_OK) {
            (void)vfs_put(session.nsid(), found);
            continue;
        }
        if (status != B_ENTRY_NOT_FOUND) return status;
        *name = text;
        return B_OK;
    }
    return B_FILE_EXISTS;
}

// True for the statuses after which a request may or may not have been carried out.
bool outcome_unknown(status_t status) { return status == B_IO_ERROR || status == B_TIMED_OUT; }

// Puts a rename's target, moved aside, back under its name. When the source may hold that
// name already (a rename whose answer never came), the source goes back first.
void restore_target(MountSession& session, vnode_id old_dir, const char* name, vnode_id dir,
                    const char* new_name, const char* aside) {
    status_t back = vfs_rename(session.nsid(), dir, aside, dir, new_name);
    if (back == B_FILE_EXISTS && vfs_rename(session.nsid(), dir, new_name, old_dir, name) == B_OK)
        (void)vfs_rename(session.nsid(), dir, aside, dir, new_name);
}

// Linux's rename replaces an existing target; the device refuses to rename onto a name that
// exists. The target moves aside first and is removed only once the source has taken its
// name: a rename that fails puts it back, so both names stay as they were.
[[nodiscard]] status_t replace_by_rename(MountSession& session, vnode_id old_dir, const char* name,
                                         vnode_id source, vnode_id target, vnode_id dir,
                                         const char* new_name) {
    be_stat source_stat{}, target_stat{};
    status_t status = vfs_stat(session.nsid(), source, &source_stat);
    if (status == B_OK) status = vfs_stat(session.nsid(), target, &target_stat);
    if (status != B_OK) return status;
    bool source_is_dir = (source_stat.st_mode & B_S_IFMT) == B_S_IFDIR;
    bool target_is_dir = (target_stat.st_mode & B_S_IFMT) == B_S_IFDIR;
    if (source_is_dir && !target_is_dir) return B_NOT_A_DIRECTORY;
    if (!source_is_dir && target_is_dir) return B_IS_A_DIRECTORY;
    if (target_is_dir) {
        // Only an empty directory may be replaced: find out before anything moves.
        int fd = vfs_opendir(session.nsid(), target);
        if (fd < 0) return fd;
        be_dirent entry{};
        int count;
        bool empty = true;
        while ((count = sys_readdir(fd, &entry, sizeof entry)) == 1) {
            if (std::strcmp(entry.d_name, ".") != 0 && std::strcmp(entry.d_name, "..") != 0)
                empty = false;
        }
        (void)sys_closedir(fd);
        if (count < 0) return count;
        if (!empty) return B_DIRECTORY_NOT_EMPTY;
    }
    std::string aside;
    status = aside_name(session, dir, &aside);
    if (status != B_OK) return status;
    status = vfs_rename(session.nsid(), dir, new_name, dir, aside.c_str());
    if (status != B_OK) {
        // The target may have moved although the answer never came: it goes back.
        if (outcome_unknown(status))
            restore_target(session, old_dir, name, dir, new_name, aside.c_str());
        return status;
    }
    status = vfs_rename(session.nsid(), old_dir, name, dir, new_name);
    if (status != B_OK) {
        restore_target(session, old_dir, name, dir, new_name, aside.c_str());
        return status;
    }
    status_t removed = target_is_dir ? vfs_rmdir(session.nsid(), dir, aside.c_str())
                                     : vfs_unlink(session.nsid(), dir, aside.c_str());
    if (removed != B_OK && outcome_unknown(removed)) {
        // Removed after all when the device no longer has the name.
        vnode_id left = 0;
        status_t found = vfs_lookup(session.nsid(), dir, aside.c_str(), &left);
        if (found == B_OK) (void)vfs_put(session.nsid(), left);
        if (found == B_ENTRY_NOT_FOUND) removed = B_OK;
    }
    if (removed == B_OK) {
        release_detached(session, target);
        return B_OK;
    }
    // The old target would stay under a name nobody gave it: undo, and say the rename failed.
    if (vfs_rename(session.nsid(), dir, new_name, old_dir, name) == B_OK)
        (void)vfs_rename(session.nsid(), dir, aside.c_str(), dir, new_name);
    return removed;
}
}  // namespace

[[nodiscard]] status_t rename_entry(MountSession& session, fuse_ino_t parent, const char* name,
                                    fuse_ino_t new_parent, const char* new_name,
                                    unsigned int flags) {
    if (flags & ~static_cast<unsigned int>(RENAME_NOREPLACE)) return B_BAD_VALUE;
    vnode_id old_dir = 0, new_dir = 0;
    status_t status = node_of(session, parent, &old_dir);
    if (status == B_OK) status = node_of(session, new_parent, &new_dir);
    if (status != B_OK) return status;

    vnode_id source = 0;
    status = vfs_lookup(session.nsid(), old_dir, name, &source);
    if (status != B_OK) return status;
    vnode_id target = 0;
    bool replaced = false;
    status_t found = vfs_lookup(session.nsid(), new_dir, new_name, &target);
    session.lingering().close_node(source);
    session.cache().directory_changed(old_dir);
    session.cache().directory_changed(new_dir);
    if (found == B_OK) {
        session.lingering().close_node(target);
        // A name that differs only in letter case finds the source itself: a plain rename.
        if (target != source) {
            replaced = true;
            status = (flags & RENAME_NOREPLACE) ? B_FILE_EXISTS
                                                : replace_by_rename(session, old_dir, name, source,
                                                                    target, new_dir, new_name);
        }
        (void)vfs_put(session.nsid(), target);
    } else if (found != B_ENTRY_NOT_FOUND) {
        status = found;
    }
    if (status == B_OK && !replaced)
        status = vfs_rename(session.nsid(), old_dir, name, new_dir, new_name);
    (void)vfs_put(session.nsid(), source);
    return status;
}
}  // namespace fusebridge
