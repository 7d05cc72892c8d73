// tavro3: creating, reading and writing files, and the status of nodes.
#include <cstring>
#include <new>

#include "tavro.h"
#include "tavro_rfsv.h"

namespace {

// Positions on the wire are signed 32-bit values.
constexpr off_t kPositionLimit = off_t{1} << 31;
// Checks a kernel position and cuts the length so that the end stays below 2 GiB.
[[nodiscard]] status_t check_position(off_t pos, size_t* len) {
    if (pos < 0 || pos >= kPositionLimit) return B_BAD_VALUE;
    off_t room = kPositionLimit - 1 - pos;
    if (static_cast<off_t>(*len) > room) *len = static_cast<size_t>(room);
    return B_OK;
}

// A file on the device ends before 2 GiB - 1: a write that would start there or later
// cannot be stored.
[[nodiscard]] status_t check_write_position(off_t pos, size_t* len) {
    if (pos < 0) return B_BAD_VALUE;
    if (pos >= kPositionLimit - 1) return B_FILE_TOO_LARGE;
    return check_position(pos, len);
}

}  // namespace

int tavro_read(void* ns, void* node, void* cookie_, off_t pos, void* buf, size_t* len) {
    volume* vol = static_cast<volume*>(ns);
    filecookie* cookie = static_cast<filecookie*>(cookie_);
    if (node == nullptr) return B_ENTRY_NOT_FOUND;
    if (cookie == nullptr) return B_FILE_ERROR;
    if (check_position(pos, len) != B_OK) {
        *len = 0;
        return B_BAD_VALUE;
    }
    // The seek and the read belong together: no other thread's request on this open file may
    // move the device's position between them.
    std::lock_guard<std::mutex> hold(cookie->lock);
    status_t sought = psion_fseek(vol, cookie, 0, static_cast<int32>(pos));
    if (sought != B_OK) {
        *len = 0;
        return outcome_unknown(sought) ? sought : B_FILE_ERROR;
    }
    int32 n = psion_read(vol, cookie, static_cast<uint8*>(buf), static_cast<uint32>(*len));
    if (n < 0) {
        *len = 0;
        return outcome_unknown(n) ? n : B_FILE_ERROR;
    }
    *len = static_cast<size_t>(n);
    return B_OK;
}

namespace {

// Positions an append at the end of the file: the node's size when that is current (no
// request when the handle is already there), otherwise wherever the device says the file ends.
[[nodiscard]] status_t seek_to_end(volume* vol, vnode* node, filecookie* cookie) {
    VolumeLock lock(vol);
    if (!lock.held()) return B_BAD_SEM_ID;
    bool current = !node->stale;
    uint32 size = node->size;
    lock.unlock();
    if (current && size < static_cast<uint32>(kPositionLimit))
        return psion_fseek(vol, cookie, 0, static_cast<int32>(size));
    return psion_fseek(vol, cookie, 2, 0);
}

}  // namespace

int tavro_write(void* ns, void* node_, void* cookie_, off_t pos, const void* buf, size_t* len) {
    volume* vol = static_cast<volume*>(ns);
    vnode* node = static_cast<vnode*>(node_);
    filecookie* cookie = static_cast<filecookie*>(cookie_);
    if (cookie == nullptr || node == nullptr || vol == nullptr || *len == 0) return B_FILE_ERROR;
    status_t where = check_write_position(pos, len);
    if (where != B_OK) {
        *len = 0;
        return where;
    }
    int32 n;
    int32 start;
    bool doubt;
    {
        std::lock_guard<std::mutex> hold(cookie->lock);
        // An append goes at the end of the file, whatever position the caller holds.
        status_t sought = cookie->append ? seek_to_end(vol, node, cookie)
                                         : psion_fseek(vol, cookie, 0, static_cast<int32>(pos));
        if (sought != B_OK) {
            *len = 0;
            return outcome_unknown(sought) ? sought : B_FILE_ERROR;
        }
        start = cookie->offset;
        if (cookie->append) {
            status_t room = check_write_position(start, len);
            if (room != B_OK) {
                *len = 0;
                return room;
            }
        }
        n = psion_write(vol, cookie, static_cast<const uint8*>(buf), static_cast<uint32>(*len));
        doubt = cookie->offset == kPositionUnknown;
    }
    if (VolumeLock lock(vol); lock.held()) {
        if (n > 0) {
            // An append leaves the file ending where it stopped; any other write reaches
            // position + count, and leaves the size alone when that is inside the file.
            uint64 end = static_cast<uint64>(static_cast<uint32>(start)) + static_cast<uint32>(n);
            if (cookie->append || end > node->size) node->size = static_cast<uint32>(end);
        }
        // A chunk that went wrong may have been stored: the size is asked of the device again.
        if (doubt) node->stale = 1;
    }
    if (n > 0) {
        *len = static_cast<size_t>(n);
        notify_change(B_STAT_CHANGED, vol, 0, 0, node->vnid, nullptr);
        return B_OK;
    }
    *len = 0;
    if (n == 0) return B_OK;
    if (outcome_unknown(n)) return n;
    if (n == B_READ_ONLY_DEVICE || n == B_DEVICE_FULL) return n;
    return B_FILE_ERROR;
}

int tavro_close(void*, void* node, void*) { return node == nullptr ? B_ENTRY_NOT_FOUND : B_OK; }

int tavro_free_cookie(void* ns, void* node, void* cookie) {
    volume* vol = static_cast<volume*>(ns);
    if (cookie != nullptr && node != nullptr) count_open(vol, static_cast<vnode*>(node), -1);
    (void)psion_close(vol, static_cast<filecookie*>(cookie));
    return B_OK;
}

// --- stat
// -----------------------------------------------------------------------------------------

int tavro_rstat(void* ns, void* node_, be_stat* st) {
    volume* vol = static_cast<volume*>(ns);
    vnode* node = static_cast<vnode*>(node_);
    if (node == nullptr) return B_ENTRY_NOT_FOUND;
    refresh_stale_node(vol, node);
    VolumeLock lock(vol);
    if (!lock.held()) return B_BAD_SEM_ID;
    *st = be_stat{};
    st->st_dev = vol->nsid;
    st->st_ino = node->vnid;
    st->st_mode = node->mode;
    st->st_nlink = 1;
    st->st_size = node->size;
    st->st_blksize = RFSV_MAX_READ_CHUNK;
    st->st_atime = node->mtime;
    st->st_mtime = node->mtime;
    st->st_ctime = node->mtime;
    st->st_crtime = node->mtime;
    return B_OK;
}

namespace {

// The device has no request that sets a file's length; emptying a file is its replace-mode
// open. Any other size change is refused rather than reported as done.
[[nodiscard]] status_t change_size(volume* vol, vnode* node, const char* path, int64 size) {
    refresh_stale_node(vol, node);
    VolumeLock lock(vol);
    if (!lock.held()) return B_BAD_SEM_ID;
    uint32 mode = node->mode;
    uint32 current = node->size;
    lock.unlock();
    if (mode & B_S_IFDIR) return B_IS_A_DIRECTORY;
    if (size == current) return B_OK;
    if (size != 0) return B_UNSUPPORTED;
    int32 handle = psion_open(vol, open_mode_word(B_O_WRONLY | B_O_TRUNC, false), path);
    if (handle < 0) {
        // The device may have emptied the file although its answer never came.
        if (outcome_unknown(handle)) {
            VolumeLock again(vol);
            if (again.held()) node->stale = 1;
        }
        return handle;
    }
    // The file is empty once the open succeeded; a close that goes wrong is owed and sent again
    // with the next open.
    (void)psion_close_handle(vol, handle);
    VolumeLock again(vol);
    if (again.held()) node->size = 0;
    return B_OK;
}

}  // namespace

int tavro_wstat(void* ns, void* node_, be_stat* st, long mask) {
    volume* vol = static_cast<volume*>(ns);
    vnode* node = static_cast<vnode*>(node_);
    if (node == nullptr) return B_ENTRY_NOT_FOUND;
    char path[kPathBufferSize];
    status_t status = find_path(vol, node, path);
    if (status != B_OK) return status;
    // A mode change sends nothing to the device, which would otherwise refuse it there.
    if (mask & WSTAT_MODE) {
        status = check_writable(vol);
        if (status != B_OK) return status;
    }

    if (mask & WSTAT_SIZE) {
        status = change_size(vol, node, path, st->st_size);
        if (status != B_OK) return status;
    }
    if (mask & WSTAT_MODE) (void)psion_sfstat(vol, path, st->st_mode, 0);
    if (mask & WSTAT_MTIME) {
        if (VolumeLock lock(vol); lock.held()) {
            node->mtime = static_cast<uint32>(st->st_mtime);
        }
        status = psion_sfdate(vol, path, static_cast<uint32>(st->st_mtime));
    }
    return status;
}
