// tavro5: creating, opening, reading and writing files, and the status of nodes.
//
// A cookie knows where the handheld's file position is; after any request that failed it
// does not, and the next access seeks first.
#include <cstring>
#include <new>

#include "epoc_text.h"
#include "epoc_time.h"
#include "tavro5.h"

using namespace tavro5;

namespace {

// Files of the family are at most 2 GiB - 1 bytes: positions are signed 32-bit values.
constexpr int64 kPositionLimit = int64{1} << 31;

uint32 open_mode(int omode) {
    uint32 mode = epoc::kShareAny;
    if ((omode & B_O_ACCMODE) != B_O_RDONLY) mode |= epoc::kOpenReadWrite;
    return mode;
}

status_t node_path(volume* vol, const node* n, std::string* path) {
    std::lock_guard<std::mutex> hold(vol->lock);
    return path_locked(vol, n, path);
}

void mark_stale(volume* vol, node* n) {
    std::lock_guard<std::mutex> hold(vol->lock);
    n->stale = true;
}

status_t set_size(volume* vol, uint32 handle, uint32 session, uint64 size) {
    if (size >= static_cast<uint64>(kPositionLimit)) return B_BAD_VALUE;
    uint8 request[32];
    size_t length =
        epoc::build_set_size(request, sizeof request, 0, handle, static_cast<uint32>(size));
    std::vector<uint8> reply;
    int32 device;
    status_t status = transact(vol, request, length, &reply, &device, handle_use::uses, &session);
    if (status == kHandleGone) return B_IO_ERROR;
    return status == B_OK ? epoc::map_status(device) : status;
}

// Opens an existing file node; with O_TRUNC it is emptied (and only then).
status_t open_existing(volume* vol, node* n, int omode, cookie** out) {
    if (n->directory()) {
        if ((omode & B_O_ACCMODE) != B_O_RDONLY) return B_IS_A_DIRECTORY;
        cookie* c = new (std::nothrow) cookie;
        if (c == nullptr) return B_NO_MEMORY;
        *out = c;  // a directory opened for reading has nothing to read; listing is opendir
        return B_OK;
    }
    std::string path;
    status_t status = node_path(vol, n, &path);
    if (status != B_OK) return status;
    uint32 handle, session;
    status = open_file(vol, epoc::kOpenFile, open_mode(omode), path, &handle, &session);
    if (status != B_OK) return status;
    bool writable = (omode & B_O_ACCMODE) != B_O_RDONLY;
    if ((omode & B_O_TRUNC) && writable) {
        status = set_size(vol, handle, session, 0);
        if (status != B_OK) {
            mark_stale(vol, n);
            (void)close_handle(vol, handle, session);
            return status;
        }
        std::lock_guard<std::mutex> hold(vol->lock);
        n->size = 0;
    }
    cookie* c = new (std::nothrow) cookie;
    if (c == nullptr) {
        (void)close_handle(vol, handle, session);
        return B_NO_MEMORY;
    }
    c->handle = handle;
    c->session = session;
    c->has_handle = true;
    c->writable = writable;
    c->append = (omode & B_O_APPEND) != 0;
    *out = c;
    return B_OK;
}

// Moves the handheld's file position to `pos` unless it is known to be there.
status_t seek_to(volume* vol, cookie* c, int64 pos) {
    if (c->position == pos) return B_OK;
    c->position = -1;
    uint8 request[32];
    size_t size = epoc::build_seek(request, sizeof request, 0, static_cast<int32>(pos), c->handle,
                                   epoc::kSeekStart);
    std::vector<uint8> reply;
    int32 device;
    status_t status = transact(vol, request, size, &reply, &device, handle_use::uses, &c->session);
    if (status != B_OK) return status;
    if (device != epoc::kOk) return epoc::map_status(device);
    uint32 now;
    if (!epoc::parse_u32(reply.data(), reply.size(), 0, &now) || now != static_cast<uint64>(pos))
        return B_IO_ERROR;
    c->position = pos;
    return B_OK;
}

// Asks the handheld where the cookie's handle stands after a seek of no distance from `sense`;
// the position is unknown until the answer comes.
status_t seek_nowhere(volume* vol, cookie* c, uint32 sense, uint32* now) {
    c->position = -1;
    uint8 request[32];
    size_t size = epoc::build_seek(request, sizeof request, 0, 0, c->handle, sense);
    std::vector<uint8> reply;
    int32 device;
    status_t status = transact(vol, request, size, &reply, &device, handle_use::uses, &c->session);
    if (status != B_OK) return status;
    if (device != epoc::kOk) return epoc::map_status(device);
    if (!epoc::parse_u32(reply.data(), reply.size(), 0, now)) return B_IO_ERROR;
    c->position = *now;
    return B_OK;
}

// A read that brought nothing back is the end of the file only if the handheld's position did
// not move: a reply cut short on the way looks just the same.
status_t confirm_end(volume* vol, cookie* c, int64 pos) {
    uint32 now;
    status_t status = seek_nowhere(vol, c, epoc::kSeekCurrent, &now);
    if (status != B_OK) return status;
    return now == static_cast<uint64>(pos) ? B_OK : B_IO_ERROR;
}

// A handle whose session was ended (to drop handles that lost replies left behind) is opened
// again: the same file, never emptied, its position unknown.
status_t renew_handle(volume* vol, node* n, cookie* c) {
    std::string path;
    status_t status = node_path(vol, n, &path);
    if (status != B_OK) return status;
    uint32 mode = epoc::kShareAny | (c->writable ? uint32{epoc::kOpenReadWrite} : 0u);
    uint32 handle, session;
    status = open_file(vol, epoc::kOpenFile, mode, path, &handle, &session);
    if (status != B_OK) return status;
    c->handle = handle;
    c->session = session;
    c->position = -1;
    return B_OK;
}

// Appending writes go to the end as the handheld knows it.
status_t seek_end(volume* vol, cookie* c) {
    uint32 now;
    return seek_nowhere(vol, c, epoc::kSeekEnd, &now);
}

// Reads from `pos` on the cookie's handle (its lock held); `done` gets the bytes read.
status_t read_at(volume* vol, cookie* c, int64 pos, void* buf, size_t wanted, size_t* done) {
    status_t status = seek_to(vol, c, pos);
    bool empty = false;  // a reply that came with no bytes
    while (status == B_OK && *done < wanted) {
        size_t ask = wanted - *done < epoc::kMaxChunk ? wanted - *done : epoc::kMaxChunk;
        uint8 request[32];
        size_t size =
            epoc::build_read(request, sizeof request, 0, c->handle, static_cast<uint32>(ask));
        std::vector<uint8> reply;
        int32 device;
        status = transact(vol, request, size, &reply, &device, handle_use::uses, &c->session);
        if (status != B_OK) break;
        if (device == epoc::kEndOfFile) break;
        if (device != epoc::kOk) {
            status = epoc::map_status(device);
            break;
        }
        const uint8* data;
        size_t got;
        epoc::parse_read(reply.data(), reply.size(), ask, &data, &got);
        memcpy(static_cast<uint8*>(buf) + *done, data, got);
        *done += got;
        c->position += static_cast<int64>(got);
        empty = got == 0;
        if (got < ask) {
            // The end of the file, or a reply cut short on the way: then the handheld moved
            // further than we were told. Either way the next read seeks first.
            c->position = -1;
            break;
        }
    }
    if (status != B_OK) c->position = -1;
    // Bytes that came are the file's; none at all must be shown to be the end.
    if (status == B_OK && *done == 0 && empty) status = confirm_end(vol, c, pos);
    return status;
}

// Writes at `pos` (or the end, appending) on the cookie's handle (its lock held); `done`
// gets the bytes known to be stored.
status_t write_at(volume* vol, node* n, cookie* c, int64 pos, const void* buf, size_t count,
                  size_t* done) {
    status_t status = c->append ? seek_end(vol, c) : B_OK;
    if (status == B_OK) pos = c->append ? c->position : pos;
    if (status == B_OK &&
        (pos >= kPositionLimit || static_cast<int64>(count) > kPositionLimit - pos))
        status = B_DEVICE_FULL;  // beyond the largest file the family can hold
    if (status == B_OK) status = seek_to(vol, c, pos);
    while (status == B_OK && *done < count) {
        size_t chunk = count - *done < epoc::kMaxChunk ? count - *done : epoc::kMaxChunk;
        uint8 request[epoc::kMaxRequest];
        size_t size = epoc::build_write(request, sizeof request, 0, c->handle,
                                        static_cast<const uint8*>(buf) + *done, chunk);
        std::vector<uint8> reply;
        int32 device;
        status = transact(vol, request, size, &reply, &device, handle_use::uses, &c->session);
        if (status == B_OK) status = epoc::map_status(device);
        if (status != B_OK) break;
        *done += chunk;
        c->position += static_cast<int64>(chunk);
    }
    {
        std::lock_guard<std::mutex> hold_volume(vol->lock);
        if (*done > 0 && static_cast<uint64>(pos) + *done > n->size)
            n->size = static_cast<uint64>(pos) + *done;
        // A failed write may have written part of its chunk; the file's time moved anyway.
        n->stale = true;
    }
    if (status != B_OK) c->position = -1;
    if (*done > 0) notify_change(B_STAT_CHANGED, vol, 0, 0, n->id, nullptr);
    return status;
}

}  // namespace

int t5_create(void* ns, void* dir_, const char* name, int omode, int, vnode_id* vnid, void** out) {
    volume* vol = static_cast<volume*>(ns);
    node* dir = static_cast<node*>(dir_);
    *out = nullptr;
    if (dir == nullptr) return B_ENTRY_NOT_FOUND;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) return B_IS_A_DIRECTORY;
    std::string wire, path;
    status_t status = epoc::check_name(name, &wire);
    if (status == B_OK) status = child_path(vol, dir, wire, &path);
    if (status != B_OK) return status;

    for (int attempt = 0; attempt < 2; attempt++) {
        vnode_id id;
        node* n;
        status = get_named_node(vol, dir, name, &id, &n);
        if (status == B_OK) {
            // It exists: an exclusive create fails, any other opens it as it is (emptied only
            // with O_TRUNC).
            cookie* c = nullptr;
            status = (omode & B_O_EXCL) ? B_FILE_EXISTS : open_existing(vol, n, omode, &c);
            if (status != B_OK) {
                release_node(vol, id);
                return status;
            }
            *vnid = id;
            *out = c;
            return B_OK;
        }
        if (status != B_ENTRY_NOT_FOUND) return status;

        // The handheld's create fails on a name that exists, so a file made meanwhile by
        // someone else is never emptied.
        uint32 handle, session;
        status =
            open_file(vol, epoc::kCreateFile, open_mode(omode | B_O_RDWR), path, &handle, &session);
        if (status == B_FILE_EXISTS && !(omode & B_O_EXCL)) continue;
        if (status != B_OK) return status;

        epoc::dir_entry entry{};
        entry.long_name = reinterpret_cast<const uint8*>(wire.data());
        entry.long_length = wire.size();
        node* made = node_for_entry(vol, dir, entry, &id);
        cookie* c = new (std::nothrow) cookie;
        if (made == nullptr || c == nullptr) {
            delete c;
            (void)close_handle(vol, handle, session);
            return B_NO_MEMORY;
        }
        {
            // Its time is the handheld's: the first stat asks for it.
            std::lock_guard<std::mutex> hold(vol->lock);
            made->stale = true;
        }
        status = publish(vol, id, &made);
        if (status != B_OK) {
            delete c;
            (void)close_handle(vol, handle, session);
            return status;
        }
        mark_stale(vol, dir);  // its time may have moved with the new entry
        c->handle = handle;
        c->session = session;
        c->has_handle = true;
        c->writable = (omode & B_O_ACCMODE) != B_O_RDONLY;
        c->append = (omode & B_O_APPEND) != 0;
        *vnid = id;
        *out = c;
        notify_change(B_ENTRY_CREATED, vol, dir->id, 0, id, name);
        return B_OK;
    }
    return B_FILE_EXISTS;
}

int t5_open(void* ns, void* node_, int omode, void** out) {
    volume* vol = static_cast<volume*>(ns);
    node* n = static_cast<node*>(node_);
    *out = nullptr;
    if (n == nullptr) return B_ENTRY_NOT_FOUND;
    if ((omode & B_O_CREAT) && (omode & B_O_EXCL)) return B_FILE_EXISTS;
    cookie* c = nullptr;
    status_t status = open_existing(vol, n, omode, &c);
    if (status == B_OK) *out = c;
    return status;
}

int t5_close(void*, void* n, void*) { return n == nullptr ? B_ENTRY_NOT_FOUND : B_OK; }

int t5_free_cookie(void* ns, void*, void* cookie_) {
    volume* vol = static_cast<volume*>(ns);
    cookie* c = static_cast<cookie*>(cookie_);
    if (c == nullptr) return B_BAD_VALUE;
    if (c->has_handle) (void)close_handle(vol, c->handle, c->session);
    delete c;
    return B_OK;
}

int t5_read(void* ns, void* node_, void* cookie_, off_t pos, void* buf, size_t* len) {
    volume* vol = static_cast<volume*>(ns);
    node* n = static_cast<node*>(node_);
    cookie* c = static_cast<cookie*>(cookie_);
    size_t wanted = *len;
    *len = 0;
    if (n == nullptr || c == nullptr) return B_ENTRY_NOT_FOUND;
    if (n->directory()) return B_IS_A_DIRECTORY;
    if (!c->has_handle) return B_BAD_VALUE;
    if (pos < 0) return B_BAD_VALUE;
    if (pos >= kPositionLimit || wanted == 0) return B_OK;
    if (static_cast<int64>(wanted) > kPositionLimit - pos)
        wanted = static_cast<size_t>(kPositionLimit - pos);
    std::lock_guard<std::mutex> hold(c->lock);

    size_t done = 0;
    status_t status = read_at(vol, c, pos, buf, wanted, &done);
    if (status == kHandleGone && done == 0) {
        status = renew_handle(vol, n, c);
        if (status == B_OK) status = read_at(vol, c, pos, buf, wanted, &done);
    }
    if (status == kHandleGone) status = B_IO_ERROR;
    *len = done;
    return done > 0 ? B_OK : status;
}

int t5_write(void* ns, void* node_, void* cookie_, off_t pos, const void* buf, size_t* len) {
    volume* vol = static_cast<volume*>(ns);
    node* n = static_cast<node*>(node_);
    cookie* c = static_cast<cookie*>(cookie_);
    size_t count = *len;
    *len = 0;
    if (n == nullptr || c == nullptr) return B_ENTRY_NOT_FOUND;
    if (!c->has_handle || !c->writable) return B_BAD_VALUE;
    if (pos < 0) return B_BAD_VALUE;
    if (count == 0) return B_OK;
    std::lock_guard<std::mutex> hold(c->lock);

    size_t done = 0;
    status_t status = write_at(vol, n, c, pos, buf, count, &done);
    if (status == kHandleGone && done == 0) {
        status = renew_handle(vol, n, c);
        if (status == B_OK) status = write_at(vol, n, c, pos, buf, count, &done);
    }
    if (status == kHandleGone) status = B_IO_ERROR;
    *len = done;
    return done > 0 ? B_OK : status;
}

// --- stat
// -----------------------------------------------------------------------------------------

int t5_rstat(void* ns, void* node_, be_stat* st) {
    volume* vol = static_cast<volume*>(ns);
    node* n = static_cast<node*>(node_);
    if (n == nullptr) return B_ENTRY_NOT_FOUND;
    bool stale;
    {
        std::lock_guard<std::mutex> hold(vol->lock);
        stale = n->stale && n != vol->root;
    }
    if (stale) {
        std::string path;
        status_t status = node_path(vol, n, &path);
        epoc::dir_entry entry;
        std::vector<uint8> reply;
        if (status == B_OK) status = request_entry(vol, path, &entry, &reply);
        if (status != B_OK) return status;
        std::lock_guard<std::mutex> hold(vol->lock);
        apply_entry_locked(n, entry);
    }
    std::lock_guard<std::mutex> hold(vol->lock);
    *st = be_stat{};
    st->st_dev = vol->nsid;
    st->st_ino = n->id;
    bool readOnly = (n->attributes & epoc::kAttrReadOnly) != 0;
    if (n->directory())
        st->st_mode = B_S_IFDIR | (readOnly ? 0555 : 0777);
    else
        st->st_mode = B_S_IFREG | (readOnly ? 0444 : 0666);
    st->st_nlink = n->directory() ? 2 : 1;
    st->st_size = n->directory() ? 0 : static_cast<int64>(n->size);
    st->st_blksize = static_cast<int32>(epoc::kMaxChunk);
    int64 seconds = 0, nanoseconds = 0;
    if (n->modified != 0) epoc::from_device_time(n->modified, &seconds, &nanoseconds);
    st->st_mtim = {seconds, nanoseconds};
    st->st_atim = st->st_mtim;
    st->st_ctim = st->st_mtim;
    st->st_crtim = st->st_mtim;
    return B_OK;
}

int t5_wstat(void* ns, void* node_, be_stat* st, long mask) {
    volume* vol = static_cast<volume*>(ns);
    node* n = static_cast<node*>(node_);
    if (n == nullptr) return B_ENTRY_NOT_FOUND;
    if (n == vol->root && (mask & (WSTAT_SIZE | WSTAT_MTIME | WSTAT_MODE))) return B_NOT_ALLOWED;
    std::string path;
    status_t status = node_path(vol, n, &path);
    if (status != B_OK) return status;

    if (mask & WSTAT_SIZE) {
        if (n->directory()) return B_IS_A_DIRECTORY;
        if (st->st_size < 0) return B_BAD_VALUE;
        uint32 handle, session;
        status = open_file(vol, epoc::kOpenFile, epoc::kShareAny | epoc::kOpenReadWrite, path,
                           &handle, &session);
        if (status != B_OK) return status;
        status = set_size(vol, handle, session, static_cast<uint64>(st->st_size));
        (void)close_handle(vol, handle, session);
        std::lock_guard<std::mutex> hold(vol->lock);
        if (status == B_OK) n->size = static_cast<uint64>(st->st_size);
        n->stale = true;  // the time moved too, and a lost reply says nothing of the size
        if (status != B_OK) return status;
    }
    if (mask & WSTAT_MODE) {
        // Only the write permission means something to the handheld: its read-only attribute.
        bool readOnly = (st->st_mode & 0222) == 0;
        uint32 set = readOnly ? uint32{epoc::kAttrReadOnly} : 0u;
        uint32 clear = readOnly ? 0u : uint32{epoc::kAttrReadOnly};
        uint8 request[epoc::kMaxRequest];
        size_t size = epoc::build_set_attributes(request, sizeof request, 0, set, clear, path);
        status = simple_request(vol, request, size);
        std::lock_guard<std::mutex> hold(vol->lock);
        if (status == B_OK)
            n->attributes = (n->attributes & ~clear) | set;
        else
            n->stale = true;
        if (status != B_OK) return status;
    }
    if (mask & WSTAT_MTIME) {
        uint64 time = epoc::to_device_time(st->st_mtim.tv_sec, st->st_mtim.tv_nsec);
        uint8 request[epoc::kMaxRequest];
        size_t size = epoc::build_set_modified(request, sizeof request, 0, time, path);
        status = simple_request(vol, request, size);
        std::lock_guard<std::mutex> hold(vol->lock);
        // The handheld may keep the time in coarser steps: the next stat asks it.
        n->stale = true;
        if (status != B_OK) return status;
    }
    notify_change(B_STAT_CHANGED, vol, 0, 0, n->id, nullptr);
    return B_OK;
}
