// tavro3: creating, reading and writing files, and the status of nodes.
#include <cstring>
#include <new>

#include "tavro.h"
#include "tavro_rfsv.h"

namespace {

// Positions on the wire are signed 32-bit values.
constexpr off_t kPositionLimit = off_t{1} << 31;
constexpr int kPublishAttempts = 4;

// Publishes a node found by create: new_vnode for a record the kernel does not hold yet,
// get_vnode for one it holds (or took meanwhile through a concurrent lookup).
status_t publish_node(volume* vol, vnode* node) {
    if (lock_volume(vol) != B_OK) return B_BAD_SEM_ID;
    if (!node_is_live_locked(vol, node)) {
        unlock_volume(vol);
        return B_ENTRY_NOT_FOUND;
    }
    bool published = node->published;
    node->published = 1;
    vnode_id id = node->vnid;
    unlock_volume(vol);
    void* held;
    if (published) return get_vnode(vol->nsid, id, &held);
    if (new_vnode(vol->nsid, id, node) == B_OK) return B_OK;
    return get_vnode(vol->nsid, id, &held);
}

void close_handle(volume* vol, int32 handle) {
    filecookie* cookie = new (std::nothrow) filecookie{};
    if (cookie == nullptr) return;
    cookie->handle = handle;
    (void)psion_close(vol, cookie);
}

// Checks a kernel position and cuts the length so that the end stays below 2 GiB.
status_t check_position(off_t pos, size_t* len) {
    if (pos < 0 || pos >= kPositionLimit) return B_BAD_VALUE;
    off_t room = kPositionLimit - 1 - pos;
    if (static_cast<off_t>(*len) > room) *len = static_cast<size_t>(room);
    return B_OK;
}

// A file on the device ends before 2 GiB - 1: a write that would start there or later
// cannot be stored.
status_t check_write_position(off_t pos, size_t* len) {
    if (pos < 0) return B_BAD_VALUE;
    if (pos >= kPositionLimit - 1) return B_FILE_TOO_LARGE;
    return check_position(pos, len);
}

}  // namespace

namespace {

void count_open(volume* vol, vnode* node, int32 change) {
    if (lock_volume(vol) != B_OK) return;
    node->opens += change;
    unlock_volume(vol);
}

// Opens a name the device has, as it is (or emptied with O_TRUNC), and publishes its node.
status_t open_existing(volume* vol, vnode* existing, vnode_id id, int omode, filecookie* cookie) {
    // The device's replace mode would empty the file: an exclusive create fails instead, any
    // other opens the file as it is.
    if (omode & B_O_EXCL) return B_FILE_EXISTS;
    if (existing->mode & B_S_IFDIR) return B_IS_A_DIRECTORY;
    status_t status = publish_node(vol, existing);
    if (status != B_OK) return status;
    cookie->handle = open_node(vol, existing, omode & ~B_O_CREAT, nullptr);
    if (cookie->handle < 0) {
        put_vnode(vol->nsid, id);
        return cookie->handle;
    }
    count_open(vol, existing, 1);
    place_append_handle(vol, existing, cookie);
    return B_OK;
}

}  // namespace

int tavro_create(void* ns, void* dir_, const char* name, int omode, int, vnode_id* vnid,
                 void** out) {
    volume* vol = static_cast<volume*>(ns);
    vnode* dir = static_cast<vnode*>(dir_);
    *out = nullptr;
    if (dir == nullptr || !vol->connected.load()) return B_ENTRY_NOT_FOUND;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) return B_IS_A_DIRECTORY;
    if (!is_device_name(name)) return B_BAD_VALUE;

    filecookie* cookie = new (std::nothrow) filecookie{};
    if (cookie == nullptr) return B_BAD_VALUE;
    cookie->append = (omode & B_O_APPEND) != 0;

    vnode_id id;
    status_t why;
    vnode* existing = search_vnode(vol, &id, dir->vnid, name, nullptr, &why);
    status_t status = B_OK;
    if (existing != nullptr) {
        status = open_existing(vol, existing, id, omode, cookie);
        if (status != B_OK) {
            delete cookie;
            return status;
        }
        *vnid = id;
        *out = cookie;
        return B_OK;
    }
    // Only a device that said "no such entry" gets a create. After a lookup that failed any
    // other way the name may well exist, and nothing is made or emptied on a guess.
    if (why != B_ENTRY_NOT_FOUND) {
        delete cookie;
        return why;
    }
    // An unlinked name whose file the device still holds for those who have it open cannot
    // be made again until that file is gone.
    if (name_pending_delete(vol, dir->vnid, name)) {
        delete cookie;
        return B_BUSY;
    }

    // The device's create mode fails on a name that exists, so a file that appeared since the
    // lookup is never emptied.
    cookie->handle = open_node(vol, dir, omode | B_O_CREAT, name);
    if (cookie->handle == B_FILE_EXISTS && !(omode & B_O_EXCL)) {
        existing = search_vnode(vol, &id, dir->vnid, name, nullptr, &why);
        status = existing != nullptr ? open_existing(vol, existing, id, omode, cookie) : why;
        if (status != B_OK) {
            delete cookie;
            return status;
        }
        *vnid = id;
        *out = cookie;
        return B_OK;
    }
    if (cookie->handle < 0) {
        status = cookie->handle;
        delete cookie;
        return status;
    }
    // Handle 0 is a valid handle: it is kept and closed with the cookie like any other.
    vnode* node = nullptr;
    status = B_BAD_VALUE;
    for (int attempt = 0; attempt < kPublishAttempts && status != B_OK; attempt++) {
        node = search_vnode(vol, &id, dir->vnid, name, nullptr, &why);
        if (node == nullptr) break;
        status = publish_node(vol, node);
    }
    if (node == nullptr || status != B_OK) {
        (void)psion_close(vol, cookie);
        return node == nullptr && outcome_unknown(why) ? why : B_BAD_VALUE;
    }
    count_open(vol, node, 1);
    *vnid = id;
    *out = cookie;
    notify_listener(B_ENTRY_CREATED, vol->nsid, dir->vnid, 0, id, name);
    return B_OK;
}

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
status_t seek_to_end(volume* vol, vnode* node, filecookie* cookie) {
    if (lock_volume(vol) != B_OK) return B_BAD_SEM_ID;
    bool current = !node->stale;
    uint32 size = node->size;
    unlock_volume(vol);
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
    if (lock_volume(vol) == B_OK) {
        if (n > 0) {
            // An append leaves the file ending where it stopped; any other write reaches
            // position + count, and leaves the size alone when that is inside the file.
            uint64 end = static_cast<uint64>(static_cast<uint32>(start)) + static_cast<uint32>(n);
            if (cookie->append || end > node->size) node->size = static_cast<uint32>(end);
        }
        // A chunk that went wrong may have been stored: the size is asked of the device again.
        if (doubt) node->stale = 1;
        unlock_volume(vol);
    }
    if (n > 0) {
        *len = static_cast<size_t>(n);
        notify_listener(B_STAT_CHANGED, vol->nsid, 0, 0, node->vnid, nullptr);
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
    if (lock_volume(vol) != B_OK) return B_BAD_SEM_ID;
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
    unlock_volume(vol);
    return B_OK;
}

namespace {

// The device has no request that sets a file's length; emptying a file is its replace-mode
// open. Any other size change is refused rather than reported as done.
status_t change_size(volume* vol, vnode* node, const char* path, int64 size) {
    refresh_stale_node(vol, node);
    if (lock_volume(vol) != B_OK) return B_BAD_SEM_ID;
    uint32 mode = node->mode;
    uint32 current = node->size;
    unlock_volume(vol);
    if (mode & B_S_IFDIR) return B_IS_A_DIRECTORY;
    if (size == current) return B_OK;
    if (size != 0) return B_UNSUPPORTED;
    int32 handle = psion_open(vol, open_mode_word(B_O_WRONLY | B_O_TRUNC, false), path);
    if (handle < 0) {
        // The device may have emptied the file although its answer never came.
        if (outcome_unknown(handle) && lock_volume(vol) == B_OK) {
            node->stale = 1;
            unlock_volume(vol);
        }
        return handle;
    }
    close_handle(vol, handle);
    if (lock_volume(vol) == B_OK) {
        node->size = 0;
        unlock_volume(vol);
    }
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
        if (lock_volume(vol) == B_OK) {
            node->mtime = static_cast<uint32>(st->st_mtime);
            unlock_volume(vol);
        }
        status = psion_sfdate(vol, path, static_cast<uint32>(st->st_mtime));
    }
    return status;
}
