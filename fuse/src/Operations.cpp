// Each handler answers its request exactly once. The helpers below it return statuses and never
// reply; the handler turns their status into the reply (errno only here, through ErrnoMap).
#define FUSE_USE_VERSION 35
#include "Operations.h"

#include <fuse_lowlevel.h>
#include <sys/xattr.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include "DirHandle.h"
#include "ErrnoMap.h"
#include "FileCaching.h"
#include "MountSession.h"
#include "OpenMode.h"
#include "StatConvert.h"
#include "XattrNames.h"
#include "kernel/syscalls.h"

namespace fusebridge {

namespace {

constexpr size_t kMaxXattrSize = 65536;
// Names are found regardless of letter case, so one file has many names the Linux kernel
// could cache ("case1.txt", "CASE1.TXT", ...), and a rename, unlink or replace through one of
// them would leave the others showing the old file. No name is cached: every path walk asks
// the volume, whose lookups are answered from its own cache without a device request.
constexpr double kEntrySeconds = 0;

MountSession& session_of(fuse_req_t req) {
    return *static_cast<MountSession*>(fuse_req_userdata(req));
}

void reply_status(fuse_req_t req, status_t status) {
    fuse_reply_err(req, errno_from_status(status));
}

// While a mount is going away (the link is down), its requests fail at once instead of
// waiting for a device that will not answer.
bool refuse_if_closing(fuse_req_t req, MountSession& session) {
    if (!session.closing()) return false;
    fuse_reply_err(req, EIO);
    return true;
}

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

void put_references(MountSession& session, vnode_id vnid, uint64_t count) {
    for (uint64_t i = 0; i < count; i++) (void)vfs_put(session.nsid(), vnid);
}

void forget_lookups(MountSession& session, fuse_ino_t ino, uint64_t count) {
    vnode_id vnid = 0;
    uint64_t references = session.nodes().forget(ino, count, &vnid);
    put_references(session, vnid, references);
    if (!session.nodes().resolve(ino, &vnid)) session.transfers().forgotten(ino);
}

// Turns a reference the caller took on `vnid` into an entry: from here on the node table owns
// it (or it is given back on failure).
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

// A node that left the namespace gives its references back at once, so that the volume
// deletes it now rather than whenever the Linux kernel forgets it.
void release_detached(MountSession& session, vnode_id vnid) {
    put_references(session, vnid, session.nodes().detach(vnid));
}

[[nodiscard]] status_t lookup_entry(MountSession& session, fuse_ino_t parent, const char* name,
                                    fuse_entry_param* entry) {
    vnode_id dir = 0;
    status_t status = node_of(session, parent, &dir);
    if (status != B_OK) return status;
    vnode_id vnid = 0;
    status = vfs_lookup(session.nsid(), dir, name, &vnid);
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
    status_t status = node_of(session, parent, &dir);
    if (status != B_OK) return status;
    vnode_id vnid = 0;
    status = vfs_lookup(session.nsid(), dir, name, &vnid);
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

[[nodiscard]] status_t set_attributes(MountSession& session, fuse_ino_t ino,
                                      const struct stat& attr, int to_set, struct stat* result) {
    vnode_id vnid = 0;
    status_t status = node_of(session, ino, &vnid);
    if (status != B_OK) return status;
    be_stat change{};
    uint32 mask = 0;
    if (to_set & FUSE_SET_ATTR_MODE) {
        mask |= WSTAT_MODE;
        change.st_mode = attr.st_mode;
    }
    if (to_set & FUSE_SET_ATTR_UID) {
        mask |= WSTAT_UID;
        change.st_uid = attr.st_uid;
    }
    if (to_set & FUSE_SET_ATTR_GID) {
        mask |= WSTAT_GID;
        change.st_gid = attr.st_gid;
    }
    if (to_set & FUSE_SET_ATTR_SIZE) {
        mask |= WSTAT_SIZE;
        change.st_size = attr.st_size;
    }
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    if (to_set & (FUSE_SET_ATTR_ATIME | FUSE_SET_ATTR_ATIME_NOW)) {
        mask |= WSTAT_ATIME;
        const timespec& t = (to_set & FUSE_SET_ATTR_ATIME_NOW) ? now : attr.st_atim;
        change.st_atim = {t.tv_sec, t.tv_nsec};
    }
    if (to_set & (FUSE_SET_ATTR_MTIME | FUSE_SET_ATTR_MTIME_NOW)) {
        mask |= WSTAT_MTIME;
        const timespec& t = (to_set & FUSE_SET_ATTR_MTIME_NOW) ? now : attr.st_mtim;
        change.st_mtim = {t.tv_sec, t.tv_nsec};
    }
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

// Reads until `size` bytes or the end of the file. FUSE takes a short read for the end of the
// file, so an error after some bytes fails the whole read rather than cutting the file short.
[[nodiscard]] status_t read_fully(int fd, off_t offset, size_t size, std::vector<char>* data) {
    data->resize(size);
    size_t done = 0;
    while (done < size) {
        ssize_t count =
            sys_read(fd, offset + static_cast<off_t>(done), data->data() + done, size - done);
        if (count < 0) return static_cast<status_t>(count);
        if (count == 0) break;
        done += static_cast<size_t>(count);
    }
    data->resize(done);
    return B_OK;
}

[[nodiscard]] status_t write_fully(int fd, off_t offset, const char* data, size_t size,
                                   size_t* written) {
    *written = 0;
    while (*written < size) {
        ssize_t count =
            sys_write(fd, offset + static_cast<off_t>(*written), data + *written, size - *written);
        if (count < 0) return *written > 0 ? B_OK : static_cast<status_t>(count);
        if (count == 0) return *written > 0 ? B_OK : B_IO_ERROR;
        *written += static_cast<size_t>(count);
    }
    return B_OK;
}

// Fills one readdir reply of at most `size` bytes starting at entry index `offset`.
[[nodiscard]] status_t fill_directory(fuse_req_t req, DirHandle* dir, off_t offset, size_t size,
                                      std::vector<char>* reply) {
    if (dir->fd < 0) {
        // Opened on the device only now: a listing the kernel kept needed no request.
        int fd = vfs_opendir(session_of(req).nsid(), dir->vnid);
        if (fd < 0) return fd;
        dir->fd = fd;
    }
    if (offset != dir->position) {
        // Not where the listing stands (a rewind or a seek): list again from the start.
        status_t status = sys_rewinddir(dir->fd);
        if (status != B_OK) return status;
        dir->position = 0;
        dir->pending = false;
        while (dir->position < offset) {
            int count = sys_readdir(dir->fd, &dir->entry, sizeof dir->entry);
            if (count < 0) return count;
            if (count == 0) return B_OK;
            dir->position++;
        }
    }
    reply->resize(size);
    size_t used = 0;
    for (;;) {
        if (!dir->pending) {
            int count = sys_readdir(dir->fd, &dir->entry, sizeof dir->entry);
            if (count < 0) {
                if (used > 0) break;  // the entries so far go out; the error comes next time
                return count;
            }
            if (count == 0) {
                session_of(req).cache().listed(dir->vnid, Clock::now());
                break;
            }
            dir->pending = true;
        }
        dir->entry.d_name[sizeof dir->entry.d_name - 1] = '\0';
        // The type is left unknown: finding it would cost a lookup per entry.
        struct stat st;
        std::memset(&st, 0, sizeof st);
        st.st_ino = static_cast<ino_t>(dir->entry.d_ino);
        size_t need = fuse_add_direntry(req, reply->data() + used, size - used, dir->entry.d_name,
                                        &st, dir->position + 1);
        if (need > size - used) break;
        used += need;
        dir->position++;
        dir->pending = false;
    }
    reply->resize(used);
    return B_OK;
}

[[nodiscard]] status_t read_attribute(MountSession& session, vnode_id vnid,
                                      const AttributeName& name, std::string* value) {
    attr_info info{};
    status_t status = vfs_stat_attr(session.nsid(), vnid, name.name.c_str(), &info);
    if (status != B_OK) return status;
    if (info.size < 0 || static_cast<uint64_t>(info.size) > kMaxXattrSize) return B_BAD_VALUE;
    value->resize(static_cast<size_t>(info.size));
    ssize_t count = vfs_read_attr(session.nsid(), vnid, name.name.c_str(), info.type, 0,
                                  value->data(), value->size());
    if (count < 0) return static_cast<status_t>(count);
    value->resize(static_cast<size_t>(count));
    if (name.mime) *value = std::string(mime_from_attribute_value(*value));
    return B_OK;
}

[[nodiscard]] status_t write_attribute(MountSession& session, vnode_id vnid,
                                       const AttributeName& name, const char* data, size_t size,
                                       int flags) {
    std::string value =
        name.mime ? mime_attribute_value(std::string_view(data, size)) : std::string(data, size);
    attr_info info{};
    status_t found = vfs_stat_attr(session.nsid(), vnid, name.name.c_str(), &info);
    if (found != B_OK && found != B_ENTRY_NOT_FOUND) return found;
    bool exists = found == B_OK;
    if ((flags & XATTR_CREATE) && exists) return B_FILE_EXISTS;
    if ((flags & XATTR_REPLACE) && !exists) return B_ENTRY_NOT_FOUND;
    uint32 type = exists ? info.type : (name.mime ? B_MIME_STRING_TYPE : B_RAW_TYPE);
    // A write at 0 need not cut what lies beyond it: a shorter value replaces the old one.
    if (exists && static_cast<uint64_t>(info.size) > value.size()) {
        status_t status = vfs_remove_attr(session.nsid(), vnid, name.name.c_str());
        if (status != B_OK) return status;
    }
    ssize_t count = vfs_write_attr(session.nsid(), vnid, name.name.c_str(), type, 0, value.data(),
                                   value.size());
    if (count < 0) return static_cast<status_t>(count);
    return B_OK;
}

[[nodiscard]] status_t list_attributes(MountSession& session, vnode_id vnid,
                                       std::vector<std::string>* names) {
    int fd = vfs_open_attrdir(session.nsid(), vnid);
    // The volume refuses to open the attribute directory of a node that has no attributes.
    if (fd == B_BAD_VALUE) return B_OK;
    if (fd < 0) return fd;
    status_t status = B_OK;
    be_dirent entry{};
    for (;;) {
        int count = sys_read_attrdir(fd, &entry, sizeof entry);
        if (count <= 0) {
            status = count;
            break;
        }
        entry.d_name[sizeof entry.d_name - 1] = '\0';
        names->emplace_back(entry.d_name);
    }
    (void)sys_close_attrdir(fd);
    return status;
}

// --- The handlers ------------------------------------------------------------------------------

void op_init(void* userdata, fuse_conn_info* conn) {
    // Read-ahead the link can carry in about a second: a short read costs about that much.
    conn->max_readahead = static_cast<MountSession*>(userdata)->readahead();
    // An open with O_TRUNC must reach the volume as one: a separate truncate is not something
    // every volume can do.
    if (conn->capable & FUSE_CAP_ATOMIC_O_TRUNC) conn->want |= FUSE_CAP_ATOMIC_O_TRUNC;
}

void op_lookup(fuse_req_t req, fuse_ino_t parent, const char* name) {
    MountSession& session = session_of(req);
    if (refuse_if_closing(req, session)) return;
    fuse_entry_param entry;
    status_t status = lookup_entry(session, parent, name, &entry);
    if (status != B_OK) return reply_status(req, status);
    session.transfers().named(entry.ino, name);
    if (fuse_reply_entry(req, &entry) != 0) forget_lookups(session, entry.ino, 1);
}

void op_forget(fuse_req_t req, fuse_ino_t ino, uint64_t nlookup) {
    forget_lookups(session_of(req), ino, nlookup);
    fuse_reply_none(req);
}

void op_forget_multi(fuse_req_t req, size_t count, fuse_forget_data* forgets) {
    MountSession& session = session_of(req);
    for (size_t i = 0; i < count; i++) forget_lookups(session, forgets[i].ino, forgets[i].nlookup);
    fuse_reply_none(req);
}

void op_getattr(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
    MountSession& session = session_of(req);
    if (refuse_if_closing(req, session)) return;
    struct stat st;
    vnode_id vnid = 0;
    status_t status = node_of(session, ino, &vnid);
    if (status == B_OK) {
        status = stat_node(session, vnid, &st);
    } else {
        // A removed file that is still open: its descriptor knows it, as on a local disk
        // (fstat comes without a file handle).
        int fd = fi != nullptr ? static_cast<int>(fi->fh) : session.open_file_of(ino);
        be_stat volume_stat{};
        if (fd >= 0) status = sys_fstat(fd, &volume_stat);
        if (status == B_OK)
            st = linux_stat(volume_stat, session.owner_uid(), session.owner_gid(), session.umask());
    }
    if (status != B_OK) return reply_status(req, status);
    fuse_reply_attr(req, &st, session.cache().seconds());
}

void op_setattr(fuse_req_t req, fuse_ino_t ino, struct stat* attr, int to_set, fuse_file_info*) {
    MountSession& session = session_of(req);
    if (refuse_if_closing(req, session)) return;
    struct stat st;
    status_t status = set_attributes(session, ino, *attr, to_set, &st);
    if (status != B_OK) return reply_status(req, status);
    fuse_reply_attr(req, &st, session.cache().seconds());
}

void op_mkdir(fuse_req_t req, fuse_ino_t parent, const char* name, mode_t mode) {
    MountSession& session = session_of(req);
    if (refuse_if_closing(req, session)) return;
    vnode_id dir = 0;
    status_t status = node_of(session, parent, &dir);
    if (status == B_OK) status = vfs_mkdir(session.nsid(), dir, name, mode & 07777);
    session.cache().directory_changed(dir);
    fuse_entry_param entry;
    if (status == B_OK) status = lookup_entry(session, parent, name, &entry);
    if (status != B_OK) return reply_status(req, status);
    if (fuse_reply_entry(req, &entry) != 0) forget_lookups(session, entry.ino, 1);
}

void op_unlink(fuse_req_t req, fuse_ino_t parent, const char* name) {
    MountSession& session = session_of(req);
    if (refuse_if_closing(req, session)) return;
    reply_status(req, remove_entry(session, parent, name, false));
}

void op_rmdir(fuse_req_t req, fuse_ino_t parent, const char* name) {
    MountSession& session = session_of(req);
    if (refuse_if_closing(req, session)) return;
    reply_status(req, remove_entry(session, parent, name, true));
}

void op_rename(fuse_req_t req, fuse_ino_t parent, const char* name, fuse_ino_t new_parent,
               const char* new_name, unsigned int flags) {
    MountSession& session = session_of(req);
    if (refuse_if_closing(req, session)) return;
    reply_status(req, rename_entry(session, parent, name, new_parent, new_name, flags));
}

void op_open(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
    MountSession& session = session_of(req);
    if (refuse_if_closing(req, session)) return;
    vnode_id vnid = 0;
    status_t status = node_of(session, ino, &vnid);
    if (status == B_OK) status = open_file_cached(session, ino, vnid, fi);
    if (status != B_OK) return reply_status(req, status);
    if (fuse_reply_open(req, fi) != 0) release_file_cached(session, ino, fi);
}

void op_create(fuse_req_t req, fuse_ino_t parent, const char* name, mode_t mode,
               fuse_file_info* fi) {
    MountSession& session = session_of(req);
    if (refuse_if_closing(req, session)) return;
    vnode_id dir = 0;
    status_t status = node_of(session, parent, &dir);
    if (status != B_OK) return reply_status(req, status);
    vnode_id vnid = 0;
    auto create = [&] {
        return vfs_create(session.nsid(), dir, name, open_mode_from_linux(fi->flags) | B_O_CREAT,
                          static_cast<int>(mode & 07777), &vnid);
    };
    int fd = create();
    // A refusal for want of handles creates nothing: retry once the kept files gave theirs back.
    if (fd == B_NO_MORE_FDS && session.lingering().size() > 0) {
        session.lingering().close_all();
        fd = create();
    }
    session.cache().directory_changed(dir);
    if (fd < 0) return reply_status(req, fd);
    session.cache().file_changed(vnid);
    fuse_entry_param entry;
    status = make_entry(session, vnid, &entry);
    if (status != B_OK) {
        (void)sys_close(fd);
        return reply_status(req, status);
    }
    fi->fh = static_cast<uint64_t>(fd);
    session.track_file(fd, entry.ino);
    session.transfers().named(entry.ino, name);
    session.transfers().opened(fd, entry.ino, static_cast<uint64_t>(entry.attr.st_size), true);
    if (fuse_reply_create(req, &entry, fi) != 0) {
        session.transfers().closed(fd);
        session.untrack_file(fd);
        (void)sys_close(fd);
        forget_lookups(session, entry.ino, 1);
    }
}

void op_read(fuse_req_t req, fuse_ino_t, size_t size, off_t offset, fuse_file_info* fi) {
    MountSession& session = session_of(req);
    if (refuse_if_closing(req, session)) return;
    std::vector<char> data;
    status_t status = read_fully(static_cast<int>(fi->fh), offset, size, &data);
    if (status != B_OK) return reply_status(req, status);
    session.transfers().moved(static_cast<int>(fi->fh), data.size());
    fuse_reply_buf(req, data.data(), data.size());
}

void op_write(fuse_req_t req, fuse_ino_t ino, const char* data, size_t size, off_t offset,
              fuse_file_info* fi) {
    MountSession& session = session_of(req);
    if (refuse_if_closing(req, session)) return;
    // The volume's sizes and offsets are 32-bit: nothing is written at or past 2 GiB.
    constexpr off_t kMaxFileSize = off_t{1} << 31;
    if (offset < 0 || offset >= kMaxFileSize) return (void)fuse_reply_err(req, EFBIG);
    if (static_cast<uint64_t>(size) > static_cast<uint64_t>(kMaxFileSize - offset))
        size = static_cast<size_t>(kMaxFileSize - offset);
    size_t written = 0;
    status_t status = write_fully(static_cast<int>(fi->fh), offset, data, size, &written);
    file_changed_here(session, ino);
    if (status != B_OK) return reply_status(req, status);
    session.transfers().moved(static_cast<int>(fi->fh), written);
    fuse_reply_write(req, written);
}

void op_flush(fuse_req_t req, fuse_ino_t, fuse_file_info*) {
    // Writes reach the volume as they come; there is nothing to flush.
    fuse_reply_err(req, 0);
}

void op_fsync(fuse_req_t req, fuse_ino_t, int, fuse_file_info*) { fuse_reply_err(req, 0); }

void op_release(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
    release_file_cached(session_of(req), ino, fi);
    fuse_reply_err(req, 0);
}

void op_opendir(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
    MountSession& session = session_of(req);
    if (refuse_if_closing(req, session)) return;
    vnode_id vnid = 0;
    status_t status = node_of(session, ino, &vnid);
    // A listing the kernel keeps is not asked of the device at all.
    bool kept = status == B_OK && listing_kept(session, vnid);
    int fd = kept ? -1 : status;
    if (status == B_OK && !kept) fd = vfs_opendir(session.nsid(), vnid);
    if (fd < 0 && !kept) return reply_status(req, fd);
    DirHandle* dir = new (std::nothrow) DirHandle;
    if (dir == nullptr) {
        if (fd >= 0) (void)sys_closedir(fd);
        return reply_status(req, B_NO_MEMORY);
    }
    dir->fd = fd;
    dir->vnid = vnid;
    fi->fh = reinterpret_cast<uint64_t>(dir);
    fi->cache_readdir = 1;
    fi->keep_cache = kept ? 1 : 0;
    session.track_dir(dir);
    if (fuse_reply_open(req, fi) != 0) {
        session.untrack_dir(dir);
        if (fd >= 0) (void)sys_closedir(fd);
        delete dir;
    }
}

void op_readdir(fuse_req_t req, fuse_ino_t, size_t size, off_t offset, fuse_file_info* fi) {
    MountSession& session = session_of(req);
    if (refuse_if_closing(req, session)) return;
    std::vector<char> reply;
    status_t status =
        fill_directory(req, reinterpret_cast<DirHandle*>(fi->fh), offset, size, &reply);
    if (status != B_OK) return reply_status(req, status);
    fuse_reply_buf(req, reply.data(), reply.size());
}

void op_releasedir(fuse_req_t req, fuse_ino_t, fuse_file_info* fi) {
    MountSession& session = session_of(req);
    DirHandle* dir = reinterpret_cast<DirHandle*>(fi->fh);
    session.untrack_dir(dir);
    if (dir->fd >= 0) (void)sys_closedir(dir->fd);
    delete dir;
    fuse_reply_err(req, 0);
}

void op_statfs(fuse_req_t req, fuse_ino_t) {
    MountSession& session = session_of(req);
    if (refuse_if_closing(req, session)) return;
    fs_info info{};
    status_t status = vfs_rfsstat(session.nsid(), &info);
    if (status != B_OK) return reply_status(req, status);
    struct statvfs result = linux_statvfs(info);
    fuse_reply_statfs(req, &result);
}

void op_setxattr(fuse_req_t req, fuse_ino_t ino, const char* name, const char* value, size_t size,
                 int flags) {
    MountSession& session = session_of(req);
    if (refuse_if_closing(req, session)) return;
    AttributeName attribute = attribute_for_xattr(name);
    if (!attribute.valid) return (void)fuse_reply_err(req, ENOTSUP);
    if (size > kMaxXattrSize) return (void)fuse_reply_err(req, E2BIG);
    vnode_id vnid = 0;
    status_t status = node_of(session, ino, &vnid);
    if (status == B_OK) status = write_attribute(session, vnid, attribute, value, size, flags);
    fuse_reply_err(req, xattr_errno_from_status(status));
}

void op_getxattr(fuse_req_t req, fuse_ino_t ino, const char* name, size_t size) {
    MountSession& session = session_of(req);
    if (refuse_if_closing(req, session)) return;
    AttributeName attribute = attribute_for_xattr(name);
    // Names outside "user." (security.*, system.posix_acl_*) are simply absent: answering
    // ENOTSUP would make the Linux kernel stop asking for any attribute of the mount.
    if (!attribute.valid) return (void)fuse_reply_err(req, ENODATA);
    vnode_id vnid = 0;
    std::string value;
    status_t status = node_of(session, ino, &vnid);
    if (status == B_OK) status = read_attribute(session, vnid, attribute, &value);
    if (status != B_OK) return (void)fuse_reply_err(req, xattr_errno_from_status(status));
    if (size == 0) return (void)fuse_reply_xattr(req, value.size());
    if (value.size() > size) return (void)fuse_reply_err(req, ERANGE);
    fuse_reply_buf(req, value.data(), value.size());
}

void op_listxattr(fuse_req_t req, fuse_ino_t ino, size_t size) {
    MountSession& session = session_of(req);
    if (refuse_if_closing(req, session)) return;
    vnode_id vnid = 0;
    std::vector<std::string> names;
    status_t status = node_of(session, ino, &vnid);
    if (status == B_OK) status = list_attributes(session, vnid, &names);
    if (status != B_OK) return reply_status(req, status);
    std::string list = xattr_list(names);
    if (size == 0) return (void)fuse_reply_xattr(req, list.size());
    if (list.size() > size) return (void)fuse_reply_err(req, ERANGE);
    fuse_reply_buf(req, list.data(), list.size());
}

void op_removexattr(fuse_req_t req, fuse_ino_t ino, const char* name) {
    MountSession& session = session_of(req);
    if (refuse_if_closing(req, session)) return;
    AttributeName attribute = attribute_for_xattr(name);
    if (!attribute.valid) return (void)fuse_reply_err(req, ENODATA);
    vnode_id vnid = 0;
    status_t status = node_of(session, ino, &vnid);
    if (status == B_OK) status = vfs_remove_attr(session.nsid(), vnid, attribute.name.c_str());
    fuse_reply_err(req, xattr_errno_from_status(status));
}

fuse_lowlevel_ops make_operations() {
    fuse_lowlevel_ops ops;
    std::memset(&ops, 0, sizeof ops);
    ops.init = op_init;
    ops.lookup = op_lookup;
    ops.forget = op_forget;
    ops.forget_multi = op_forget_multi;
    ops.getattr = op_getattr;
    ops.setattr = op_setattr;
    ops.mkdir = op_mkdir;
    ops.unlink = op_unlink;
    ops.rmdir = op_rmdir;
    ops.rename = op_rename;
    ops.open = op_open;
    ops.create = op_create;
    ops.read = op_read;
    ops.write = op_write;
    ops.flush = op_flush;
    ops.fsync = op_fsync;
    ops.release = op_release;
    ops.opendir = op_opendir;
    ops.readdir = op_readdir;
    ops.releasedir = op_releasedir;
    ops.statfs = op_statfs;
    ops.setxattr = op_setxattr;
    ops.getxattr = op_getxattr;
    ops.listxattr = op_listxattr;
    ops.removexattr = op_removexattr;
    // Not served: readlink, symlink, link and mknod (the volumes hold files and directories
    // only), access (no permissions on the device), locks, ioctl, poll, fallocate.
    return ops;
}

}  // namespace

const fuse_lowlevel_ops& bridge_operations() {
    static const fuse_lowlevel_ops ops = make_operations();
    return ops;
}

}  // namespace fusebridge
