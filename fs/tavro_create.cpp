// tavro3: making entries, files (create) and folders (mkdir). The device's create mode fails on
// a name that exists, so create opens the file the lookup finds, and makes one only where the
// device said there is none.
#include <cstring>
#include <new>

#include "tavro.h"
#include "tavro_rfsv.h"

namespace {

// Opens a name the device has, as it is (or emptied with O_TRUNC), and publishes its node.
[[nodiscard]] status_t open_existing(volume* vol, vnode* existing, vnode_id id, int omode,
                                     filecookie* cookie) {
    // The device's replace mode would empty the file: an exclusive create fails instead, any
    // other opens the file as it is.
    if (omode & B_O_EXCL) return B_FILE_EXISTS;
    if (is_directory(existing)) return B_IS_A_DIRECTORY;
    status_t status = publish_node(vol, existing);
    if (status != B_OK) return status;
    cookie->handle = open_node(vol, existing, omode & ~B_O_CREAT, nullptr);
    if (cookie->handle < 0) {
        release_node(vol, id);
        return cookie->handle;
    }
    count_open(vol, existing, 1);
    place_append_handle(vol, existing, cookie);
    return B_OK;
}

// Looks `name` up and opens it when the device has it (`exists`). Otherwise the reason the
// lookup gave: B_ENTRY_NOT_FOUND only when the device said there is no such entry.
[[nodiscard]] status_t open_if_exists(volume* vol, vnode* dir, const char* name, int omode,
                                      filecookie* cookie, vnode_id* id, bool* exists) {
    status_t why;
    vnode* existing = search_vnode(vol, id, dir->vnid, name, nullptr, &why);
    *exists = existing != nullptr;
    return *exists ? open_existing(vol, existing, *id, omode, cookie) : why;
}

// Makes the file on the device and publishes its node.
[[nodiscard]] status_t make_file(volume* vol, vnode* dir, const char* name, int omode,
                                 filecookie* cookie, vnode_id* id) {
    // An unlinked name whose file the device still holds for those who have it open cannot
    // be made again until that file is gone.
    if (name_pending_delete(vol, dir->vnid, name)) return B_BUSY;

    // The device's create mode fails on a name that exists, so a file that appeared since the
    // lookup is never emptied: it is opened as it is.
    cookie->handle = open_node(vol, dir, omode | B_O_CREAT, name);
    if (cookie->handle == B_FILE_EXISTS && !(omode & B_O_EXCL)) {
        bool exists;
        return open_if_exists(vol, dir, name, omode, cookie, id, &exists);
    }
    if (cookie->handle < 0) return cookie->handle;
    // Handle 0 is a valid handle: it is kept and closed with the cookie like any other.
    vnode* node = nullptr;
    status_t status = get_named_node(vol, dir->vnid, name, id, NodeUse::kCreated, &node);
    if (status != B_OK) {
        // The file stays made; only this open of it failed, so its close is not the news.
        (void)psion_close_handle(vol, cookie->handle);
        return outcome_unknown(status) ? status : B_BAD_VALUE;
    }
    count_open(vol, node, 1);
    notify_change(B_ENTRY_CREATED, vol, dir->vnid, 0, *id, name);
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
    bool exists;
    status_t status = open_if_exists(vol, dir, name, omode, cookie, &id, &exists);
    // Only a device that said "no such entry" gets a create. After a lookup that failed any
    // other way the name may well exist, and nothing is made or emptied on a guess.
    if (!exists && status == B_ENTRY_NOT_FOUND)
        status = make_file(vol, dir, name, omode, cookie, &id);
    if (status != B_OK) {
        delete cookie;  // it holds no handle: every step that failed closed what it opened
        return status;
    }
    *vnid = id;
    *out = cookie;
    return B_OK;
}

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
    if (outcome_unknown(status)) {
        VolumeLock lock(vol);
        if (lock.held()) forget_name_in_locked(vol, dir->vnid, name);
    }
    if (status == B_OK) notify_change(B_ENTRY_CREATED, vol, dir->vnid, 0, 0, name);
    return status;
}
