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

#include "AttributeSteps.h"
#include "DirHandle.h"
#include "DirectoryFill.h"
#include "ErrnoMap.h"
#include "FileCaching.h"
#include "FileData.h"
#include "MountSession.h"
#include "NodeEntries.h"
#include "OpenMode.h"
#include "ReplacingRename.h"
#include "StatConvert.h"
#include "XattrNames.h"
#include "kernel/syscalls.h"

namespace fusebridge {

namespace {

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
        fill_directory(req, session, reinterpret_cast<DirHandle*>(fi->fh), offset, size, &reply);
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
