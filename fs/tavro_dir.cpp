// tavro3: directory listings and namespace changes (mkdir, rmdir, unlink, rename).
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

#include "tavro.h"
#include "tavro_rfsv.h"

namespace {

// "." and ".." with all-zero headers: every listing yields them before the device's entries.
constexpr size_t kSeedSize = 37;

uint8* new_seed_buffer() {
    uint8* seed = static_cast<uint8*>(calloc(kSeedSize, 1));
    if (seed == nullptr) return nullptr;
    seed[16] = '.';
    seed[18 + 16] = '.';
    seed[18 + 17] = '.';
    return seed;
}

bool is_dot_name(const char* name) { return strcmp(name, ".") == 0 || strcmp(name, "..") == 0; }

bool is_directory(const vnode* node) { return (node->mode & B_S_IFDIR) != 0; }

uint32 mode_of(volume* vol, vnode* node) {
    if (lock_volume(vol) != B_OK) return 0;
    uint32 mode = node->mode;
    unlock_volume(vol);
    return mode;
}

// Pulls the next FDIRREAD reply into the cookie; the listing is over when nothing usable comes.
void fetch_entries(volume* vol, filecookie* cookie) {
    free(cookie->buffer);
    cookie->buffer = nullptr;
    cookie->length = 0;
    cookie->offset = 0;
    if (cookie->handle < 0) return;
    int32 size;
    status_t transport;
    cookie->buffer = psion_dirread(vol, cookie->handle, &size, &transport);
    int16 status;
    if (cookie->buffer != nullptr && size > 7 && reply_status(cookie->buffer, size, &status) &&
        status == 0) {
        cookie->length = size;
        cookie->offset = 8;
    }
}

}  // namespace

// --- listing
// --------------------------------------------------------------------------------------

int tavro_opendir(void* ns, void* vnode_, void** out) {
    volume* vol = static_cast<volume*>(ns);
    vnode* node = static_cast<vnode*>(vnode_);
    if (node == nullptr) return B_ENTRY_NOT_FOUND;
    if (!is_directory(node)) return B_NOT_A_DIRECTORY;
    filecookie* cookie = new (std::nothrow) filecookie{};
    if (cookie == nullptr) return B_NO_MEMORY;
    cookie->handle = open_node(vol, node, B_O_RDONLY, nullptr);
    cookie->buffer = new_seed_buffer();
    if (cookie->handle < 0 || cookie->buffer == nullptr) {
        status_t status = cookie->handle < 0 ? cookie->handle : B_NO_MEMORY;
        if (cookie->handle >= 0) {
            cookie->buffer = nullptr;
            (void)psion_close(vol, cookie);
        } else {
            free(cookie->buffer);
            delete cookie;
        }
        *out = nullptr;
        return status;
    }
    cookie->length = kSeedSize;
    *out = cookie;
    return B_OK;
}

int tavro_readdir(void* ns, void* vnode_, void* cookie_, long* num, be_dirent* dirent,
                  size_t bufsize) {
    volume* vol = static_cast<volume*>(ns);
    vnode* node = static_cast<vnode*>(vnode_);
    filecookie* cookie = static_cast<filecookie*>(cookie_);
    if (node == nullptr || cookie == nullptr) return B_ENTRY_NOT_FOUND;
    std::lock_guard<std::mutex> hold(cookie->lock);
    *num = 0;

    for (;;) {
        if (!vol->connected.load() || cookie->ended) return B_OK;
        if (cookie->offset >= cookie->length) {
            fetch_entries(vol, cookie);
            if (cookie->offset >= cookie->length) return B_OK;
        }
        dir_entry entry;
        if (!parse_dir_entry(cookie->buffer, cookie->length, cookie->offset, &entry)) {
            // A malformed reply: stop here rather than guess where the next entry starts.
            cookie->ended = 1;
            return B_OK;
        }
        size_t room =
            bufsize > offsetof(be_dirent, d_name) ? bufsize - offsetof(be_dirent, d_name) : 0;
        if (room > sizeof dirent->d_name) room = sizeof dirent->d_name;
        bool usable = entry.name_length > 0 && entry.name_length < sizeof dirent->d_name &&
                      (is_device_name(entry.name) || is_dot_name(entry.name));
        if (usable && entry.name_length + 1 > room) return B_BAD_VALUE;  // caller's buffer
        cookie->offset = static_cast<int32>(entry.next);
        if (!usable) continue;

        vnode_id id;
        vnode* found = search_vnode(vol, &id, node->vnid, entry.name, entry.header);
        bool parentOfRoot = found == nullptr && strcmp(entry.name, "..") == 0;
        // A name whose node was unlinked is gone from the namespace, even while the device
        // still holds the file for those who have it open.
        if (found == nullptr && !parentOfRoot) continue;

        memcpy(dirent->d_name, entry.name, entry.name_length + 1);
        dirent->d_reclen = static_cast<uint16>(entry.name_length);
        dirent->d_dev = vol->nsid;
        dirent->d_pdev = vol->nsid;
        dirent->d_ino = id;
        dirent->d_pino = node->vnid;
        *num = 1;
        return B_OK;
    }
}

int tavro_rewinddir(void* ns, void* vnode_, void* cookie_) {
    volume* vol = static_cast<volume*>(ns);
    vnode* node = static_cast<vnode*>(vnode_);
    filecookie* cookie = static_cast<filecookie*>(cookie_);
    if (node == nullptr) return B_ENTRY_NOT_FOUND;
    if (cookie == nullptr) return B_OK;
    std::lock_guard<std::mutex> hold(cookie->lock);
    // The old device handle is closed first, so that rewinding does not leak handles.
    if (cookie->handle >= 0 && vol->connected.load()) {
        uint8 request[8];
        int32 size;
        status_t transport;
        (void)build_handle_request(request, FCLOSE, static_cast<uint16>(cookie->handle));
        free(send_command(vol, request, &size, &transport));
    }
    cookie->length = 0;
    cookie->handle = open_node(vol, node, B_O_RDONLY, nullptr);
    cookie->offset = 0;
    cookie->ended = 0;
    free(cookie->buffer);
    cookie->buffer = new_seed_buffer();
    if (cookie->buffer != nullptr) cookie->length = kSeedSize;
    return B_OK;
}

int tavro_closedir(void*, void*, void*) { return B_OK; }

int tavro_free_dircookie(void* ns, void*, void* cookie) {
    (void)psion_close(static_cast<volume*>(ns), static_cast<filecookie*>(cookie));
    return B_OK;
}

// --- namespace changes
// ----------------------------------------------------------------------------

namespace {

// The device path of `name` in `dir`, or B_NAME_TOO_LONG when it does not fit.
status_t entry_path(volume* vol, vnode* dir, const char* name, char* path) {
    status_t status = find_path(vol, dir, path);
    if (status != B_OK) return status;
    return append_path(path, name);
}

// Whether a directory holds no entries on the device: one listing request tells.
status_t check_empty(volume* vol, vnode* dir, bool* empty) {
    int32 handle = open_node(vol, dir, B_O_RDONLY, nullptr);
    if (handle < 0) return handle;
    int32 size;
    status_t transport;
    uint8* reply = psion_dirread(vol, handle, &size, &transport);
    int16 status;
    dir_entry entry;
    status_t result = B_OK;
    if (reply == nullptr)
        result = missing_reply(transport);
    else if (!reply_status(reply, size, &status))
        result = B_IO_ERROR;
    else
        *empty = status != 0 || !parse_dir_entry(reply, size, 8, &entry);
    free(reply);

    filecookie* cookie = new (std::nothrow) filecookie{};
    if (cookie != nullptr) {
        cookie->handle = handle;
        (void)psion_close(vol, cookie);
    }
    return result;
}

status_t remove_entry(volume* vol, vnode* dir, const char* name, bool directory) {
    if (dir == nullptr) return B_ENTRY_NOT_FOUND;
    if (is_dot_name(name)) return B_BAD_VALUE;
    vnode_id id = 0;
    status_t found = get_named_node(vol, dir->vnid, name, &id, false);
    if (found != B_OK) return found;
    vnode* node = node_of(id);

    uint32 mode = mode_of(vol, node);
    status_t status = B_OK;
    if (!directory && (mode & B_S_IFDIR)) status = B_IS_A_DIRECTORY;
    if (directory && (mode & B_S_IFREG)) status = B_NOT_A_DIRECTORY;
    // The device deletes a directory only later, at its last reference, and would then refuse
    // a full one without telling anyone: look now, while the caller can still be told.
    if (status == B_OK && directory && vol->connected.load()) {
        bool empty = false;
        status = check_empty(vol, node, &empty);
        if (status == B_OK && !empty) status = B_DIRECTORY_NOT_EMPTY;
    }
    if (status != B_OK) {
        put_vnode(vol->nsid, id);
        return status;
    }

    remove_vnode(vol->nsid, id);
    if (lock_volume(vol) == B_OK) {
        node->removed = 1;
        unlock_volume(vol);
    }
    notify_listener(B_ENTRY_REMOVED, vol->nsid, dir->vnid, 0, id, nullptr);
    put_vnode(vol->nsid, id);
    return B_OK;
}

bool is_below(volume* vol, vnode* node, vnode* dir) {
    for (vnode* at = dir; at != nullptr; at = at->parent != 0 ? node_of(at->parent) : nullptr)
        if (at == node) return true;
    (void)vol;
    return false;
}

}  // namespace

int tavro_mkdir(void* ns, void* dir_, const char* name, int) {
    volume* vol = static_cast<volume*>(ns);
    vnode* dir = static_cast<vnode*>(dir_);
    if (dir == nullptr) return B_ENTRY_NOT_FOUND;
    if (is_dot_name(name)) return B_FILE_EXISTS;
    if (!is_device_name(name)) return B_BAD_VALUE;
    char path[kPathBufferSize];
    status_t status = entry_path(vol, dir, name, path);
    if (status != B_OK) return status;
    status = psion_mkdir(vol, path);
    if (status == B_OK) notify_listener(B_ENTRY_CREATED, vol->nsid, dir->vnid, 0, 0, name);
    return status;
}

int tavro_rmdir(void* ns, void* dir, const char* name) {
    return remove_entry(static_cast<volume*>(ns), static_cast<vnode*>(dir), name, true);
}

int tavro_unlink(void* ns, void* dir, const char* name) {
    return remove_entry(static_cast<volume*>(ns), static_cast<vnode*>(dir), name, false);
}

int fs_rename(void* ns, void* olddir_, const char* oldname, void* newdir_, const char* newname) {
    volume* vol = static_cast<volume*>(ns);
    vnode* olddir = static_cast<vnode*>(olddir_);
    vnode* newdir = static_cast<vnode*>(newdir_);
    if (olddir == nullptr || newdir == nullptr) return B_ENTRY_NOT_FOUND;
    if (is_dot_name(oldname) || is_dot_name(newname)) return B_BAD_VALUE;
    if (!is_device_name(oldname)) return B_ENTRY_NOT_FOUND;
    if (!is_device_name(newname)) return B_BAD_VALUE;

    vnode_id id;
    status_t why;
    vnode* node = search_vnode(vol, &id, olddir->vnid, oldname, nullptr, &why);
    if (node == nullptr) return why;
    char* copy = strdup(newname);
    if (copy == nullptr) return B_NO_MEMORY;

    if (lock_volume(vol) != B_OK) {
        free(copy);
        return B_BAD_SEM_ID;
    }
    char oldpath[kPathBufferSize];
    char newpath[kPathBufferSize];
    status_t status = B_OK;
    if (lookup_name_locked(vol, olddir->vnid, oldname) != node || node->removed)
        status = B_ENTRY_NOT_FOUND;  // released, renamed or unlinked since the lookup
    else if (is_below(vol, node, newdir))
        status = B_BAD_VALUE;  // a directory cannot move into itself
    if (status == B_OK) status = find_path_locked(vol, olddir, oldpath);
    if (status == B_OK) status = append_path(oldpath, oldname);
    if (status == B_OK) status = find_path_locked(vol, newdir, newpath);
    if (status == B_OK) status = append_path(newpath, newname);
    if (status == B_OK) status = psion_rename(vol, oldpath, newpath);
    if (status == B_OK) {
        rename_node_locked(vol, node, newdir, copy);
        copy = nullptr;
    }
    unlock_volume(vol);
    free(copy);
    if (status == B_OK)
        notify_listener(B_ENTRY_MOVED, vol->nsid, olddir->vnid, newdir->vnid, id, newname);
    return status;
}
