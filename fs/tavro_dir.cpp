// tavro3: directory listings and namespace changes (mkdir, rmdir, unlink, rename).
#include <cstddef>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/ByteOrder.h"
#include "tavro.h"
#include "tavro_rfsv.h"

namespace {

// "." and ".." with all-zero headers: every listing yields them before the device's entries.
constexpr size_t kDotEntrySize = RFSV_ENTRY_HEADER_SIZE + sizeof ".";
constexpr size_t kDotDotEntrySize = RFSV_ENTRY_HEADER_SIZE + sizeof "..";
constexpr size_t kSeedSize = kDotEntrySize + kDotDotEntrySize;

uint8* new_seed_buffer() {
    uint8* seed = static_cast<uint8*>(calloc(kSeedSize, 1));
    if (seed == nullptr) return nullptr;
    memcpy(seed + RFSV_ENTRY_HEADER_SIZE, ".", sizeof ".");
    memcpy(seed + kDotEntrySize + RFSV_ENTRY_HEADER_SIZE, "..", sizeof "..");
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

// Pulls the next FDIRREAD reply into the cookie: B_OK with entries to read, B_OK with none
// at the end of the listing, or the error that broke it off.
status_t fetch_entries(volume* vol, filecookie* cookie) {
    free(cookie->buffer);
    cookie->buffer = nullptr;
    cookie->length = 0;
    cookie->offset = 0;
    if (cookie->handle < 0) return B_IO_ERROR;
    int32 size = 0;
    status_t transport;
    cookie->buffer = psion_dirread(vol, cookie->handle, &size, &transport);
    if (cookie->buffer == nullptr) return missing_reply(transport);
    int16 status;
    if (!reply_status(cookie->buffer, size, &status)) return B_IO_ERROR;
    if (status == RFSV_END_OF_FILE) return B_OK;
    if (status != 0) return B_IO_ERROR;
    // A successful reply brings at least one entry after its two leading bytes.
    if (size <= static_cast<int32>(RFSV_DIRREAD_ENTRIES)) return B_IO_ERROR;
    cookie->length = size;
    cookie->offset = RFSV_DIRREAD_ENTRIES;
    return B_OK;
}

void close_listing_handle(volume* vol, int32 handle) {
    if (handle < 0) return;
    filecookie* cookie = new (std::nothrow) filecookie{};
    if (cookie == nullptr) return;
    cookie->handle = handle;
    (void)psion_close(vol, cookie);
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

    // A listing that broke off stays broken: a caller that goes on reading must not take
    // what follows for the rest of the folder.
    for (;;) {
        if (cookie->ended == kListingBroken) return B_IO_ERROR;
        if (!vol->connected.load()) {
            cookie->ended = kListingBroken;
            return B_IO_ERROR;
        }
        if (cookie->offset >= cookie->length) {
            status_t status = fetch_entries(vol, cookie);
            if (status != B_OK) {
                cookie->ended = kListingBroken;
                return status;
            }
            if (cookie->offset >= cookie->length) return B_OK;  // the end of the listing
        }
        dir_entry entry;
        if (!parse_dir_entry(cookie->buffer, cookie->length, cookie->offset, &entry)) {
            // A malformed reply: nothing after this point can be read with confidence.
            cookie->ended = kListingBroken;
            return B_IO_ERROR;
        }
        size_t room =
            bufsize > offsetof(be_dirent, d_name) ? bufsize - offsetof(be_dirent, d_name) : 0;
        if (room > sizeof dirent->d_name) room = sizeof dirent->d_name;
        // The device spells names in its own character set; the desktop reads UTF-8.
        char name[sizeof dirent->d_name];
        bool usable = entry.name_length > 0 &&
                      from_device_text(entry.name, entry.name_length, name, sizeof name) &&
                      (is_device_name(name) || is_dot_name(name));
        size_t length = usable ? strlen(name) : 0;
        if (usable && length + 1 > room) return B_BAD_VALUE;  // caller's buffer
        cookie->offset = static_cast<int32>(entry.next);
        if (!usable) continue;

        vnode_id id;
        vnode* found = search_vnode(vol, &id, node->vnid, name, entry.header);
        bool parentOfRoot = found == nullptr && strcmp(name, "..") == 0;
        // A name whose node was unlinked is gone from the namespace, even while the device
        // still holds the file for those who have it open.
        if (found == nullptr && !parentOfRoot) continue;

        memcpy(dirent->d_name, name, length + 1);
        dirent->d_reclen = static_cast<uint16>(length);
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
    close_listing_handle(vol, cookie->handle);
    cookie->length = 0;
    cookie->handle = open_node(vol, node, B_O_RDONLY, nullptr);
    cookie->offset = 0;
    cookie->ended = 0;
    free(cookie->buffer);
    cookie->buffer = new_seed_buffer();
    if (cookie->buffer != nullptr) cookie->length = kSeedSize;
    if (cookie->handle < 0 || cookie->buffer == nullptr) {
        status_t status = cookie->handle < 0 ? cookie->handle : B_NO_MEMORY;
        cookie->ended = kListingBroken;
        return status;
    }
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

// After a request of unknown outcome the device is asked what became of the names: whether
// they exist now settles whether it was carried out. An answer that says nothing sure leaves
// the outcome unknown.
status_t entry_info(volume* vol, const char* path) {
    // A folder's own entry is asked for without its trailing separator.
    char entry[kPathBufferSize];
    snprintf(entry, sizeof entry, "%s", path);
    size_t length = strlen(entry);
    if (length > 0 && entry[length - 1] == '\\') entry[length - 1] = '\0';
    uint8 header[RFSV_ENTRY_HEADER_SIZE];
    return psion_finfo(vol, entry, header);
}

bool entry_absent(volume* vol, const char* path) {
    return entry_info(vol, path) == B_ENTRY_NOT_FOUND;
}

bool entry_present(volume* vol, const char* path) { return entry_info(vol, path) == B_OK; }

// The device refuses a rename onto a name that exists, so the old name gone and the new one
// there means the rename was carried out.
bool rename_took_effect(volume* vol, const char* from, const char* to) {
    return entry_absent(vol, from) && entry_present(vol, to);
}

// Whether a directory holds no entries on the device: one listing request tells.
status_t check_empty(volume* vol, vnode* dir, bool* empty) {
    int32 handle = open_node(vol, dir, B_O_RDONLY, nullptr);
    if (handle < 0) return handle;
    int32 size = 0;
    status_t transport;
    uint8* reply = psion_dirread(vol, handle, &size, &transport);
    int16 status;
    dir_entry entry;
    status_t result = B_OK;
    if (reply == nullptr)
        result = missing_reply(transport);
    else if (!reply_status(reply, size, &status))
        result = B_IO_ERROR;
    else if (status == RFSV_END_OF_FILE)
        *empty = true;
    else if (status != 0 || !parse_dir_entry(reply, size, RFSV_DIRREAD_ENTRIES, &entry))
        result = B_IO_ERROR;
    else
        *empty = false;
    free(reply);
    close_listing_handle(vol, handle);
    return result;
}

// A name for an unlinked file that is still open, out of the way of new files of its old
// name until its last user lets it go. Hidden from listings while its node lives.
void aside_name(volume* vol, char* name, size_t size) {
    snprintf(name, size, "~T%06X.DEL", static_cast<unsigned>(vol->asideSerial++ & 0xFFFFFF));
}

constexpr int kAsideAttempts = 8;

// Moves the entry of an open file to a hidden name, so that its name is free at once while
// its data stay for those who have it open.
status_t set_aside(volume* vol, vnode* node) {
    if (lock_volume(vol) != B_OK) return B_BAD_SEM_ID;
    status_t status = B_FILE_EXISTS;
    for (int attempt = 0; attempt < kAsideAttempts && status == B_FILE_EXISTS; attempt++) {
        char oldpath[kPathBufferSize];
        char newpath[kPathBufferSize];
        char hidden[16];
        aside_name(vol, hidden, sizeof hidden);
        vnode* dir = node_of(node->parent);
        status = find_path_locked(vol, node, oldpath);
        if (status == B_OK) status = find_path_locked(vol, dir, newpath);
        if (status == B_OK) status = append_path(newpath, hidden);
        if (status == B_OK) status = psion_rename(vol, oldpath, newpath);
        if (outcome_unknown(status) && rename_took_effect(vol, oldpath, newpath)) status = B_OK;
        if (status == B_OK) {
            char* copy = strdup(hidden);
            drop_numbers_locked(vol, oldpath);
            if (copy != nullptr) {
                rename_node_locked(vol, node, dir, copy);
            } else {
                forget_node_locked(vol, node);
                node->deleted = 1;  // its hidden name is not known any more
            }
        } else if (outcome_unknown(status)) {
            forget_node_locked(vol, node);
        }
    }
    unlock_volume(vol);
    return status;
}

// Deletes the entry of a node on the device now, so that a refusal reaches the caller.
status_t delete_entry(volume* vol, vnode* node) {
    char path[kPathBufferSize];
    status_t status = find_path(vol, node, path);
    if (status != B_OK) return status;
    status = psion_delete(vol, path);
    // A handle a lost open left on the device holds the file: it is closed, and the delete
    // goes again.
    if (status == B_BUSY && handles_in_doubt(vol)) {
        tidy_device_handles(vol);
        status = psion_delete(vol, path);
    }
    if (outcome_unknown(status) && entry_absent(vol, path)) status = B_OK;
    if (lock_volume(vol) != B_OK) return status;
    if (status == B_OK || status == B_ENTRY_NOT_FOUND) {
        node->deleted = 1;
        drop_numbers_locked(vol, path);
    }
    else if (outcome_unknown(status))
        forget_node_locked(vol, node);
    unlock_volume(vol);
    return status;
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
    if (status == B_OK && !vol->connected.load()) status = B_IO_ERROR;
    if (status == B_OK && directory) {
        bool empty = false;
        status = check_empty(vol, node, &empty);
        if (status == B_OK && !empty) status = B_DIRECTORY_NOT_EMPTY;
    }
    if (status == B_OK) {
        if (lock_volume(vol) != B_OK) {
            status = B_BAD_SEM_ID;
        } else {
            bool open = node->opens > 0;
            unlock_volume(vol);
            // The device refuses to delete a file that is open; one of ours that is open
            // leaves under a hidden name now and is deleted when its last user closes it.
            status = open ? set_aside(vol, node) : delete_entry(vol, node);
        }
    }
    // An entry the device does not have is gone from here too; the caller learns it was not
    // there.
    if (status != B_OK && status != B_ENTRY_NOT_FOUND) {
        put_vnode(vol->nsid, id);
        return status;
    }
    if (status == B_ENTRY_NOT_FOUND) {
        bool gone = false;
        if (lock_volume(vol) == B_OK) {
            gone = node->deleted;
            unlock_volume(vol);
        }
        if (!gone) {
            put_vnode(vol->nsid, id);
            return status;
        }
    }

    remove_vnode(vol->nsid, id);
    if (lock_volume(vol) == B_OK) {
        node->removed = 1;
        unlock_volume(vol);
    }
    notify_listener(B_ENTRY_REMOVED, vol->nsid, dir->vnid, 0, id, nullptr);
    put_vnode(vol->nsid, id);
    return status;
}

// The length of a path in the device's characters.
size_t device_length(const char* path) {
    char spelled[RFSV_REQUEST_BUFFER_SIZE];
    return to_device_text(path, spelled, sizeof spelled) == B_OK ? strlen(spelled)
                                                                   : RFSV_REQUEST_BUFFER_SIZE;
}

// The longest path below the folder `dir` (its path, ending in the separator), counted in
// device characters from the end of the folder's path; folders count their separator.
status_t longest_below(volume* vol, const char* dir, size_t* longest, int depth) {
    if (depth > static_cast<int>(kPathBufferSize / 2)) return B_NAME_TOO_LONG;
    char pattern[kPathBufferSize];
    if (snprintf(pattern, sizeof pattern, "%s*.*", dir) >= static_cast<int>(sizeof pattern))
        return B_NAME_TOO_LONG;
    int32 handle = psion_open(vol, open_mode_word(B_O_RDONLY, true), pattern);
    if (handle < 0) return handle;
    status_t result = B_OK;
    for (bool more = true; more && result == B_OK;) {
        int32 size = 0;
        status_t transport;
        uint8* reply = psion_dirread(vol, handle, &size, &transport);
        int16 status;
        if (reply == nullptr) {
            result = missing_reply(transport);
        } else if (!reply_status(reply, size, &status) || (status != 0 && status != RFSV_END_OF_FILE)) {
            result = B_IO_ERROR;
        } else if (status == RFSV_END_OF_FILE) {
            more = false;
        } else {
            dir_entry entry;
            size_t offset = RFSV_DIRREAD_ENTRIES;
            if (static_cast<size_t>(size) <= offset) result = B_IO_ERROR;
            while (result == B_OK && offset < static_cast<size_t>(size)) {
                if (!parse_dir_entry(reply, size, offset, &entry)) {
                    result = B_IO_ERROR;
                    break;
                }
                offset = entry.next;
                bool folder = (BytesToUword(entry.header + RFSV_ENTRY_ATTRIBUTES) & RFSV_ATTR_DIRECTORY) != 0;
                size_t own = entry.name_length + (folder ? 1 : 0);
                if (own > *longest) *longest = own;
                if (!folder || entry.name_length == 0) continue;
                char name[kPathBufferSize * 3];
                char below[kPathBufferSize];
                if (!from_device_text(entry.name, entry.name_length, name, sizeof name) ||
                    snprintf(below, sizeof below, "%s%s\\", dir, name) >=
                        static_cast<int>(sizeof below)) {
                    *longest = kPathBufferSize;  // already out of reach
                    continue;
                }
                size_t deeper = 0;
                result = longest_below(vol, below, &deeper, depth + 1);
                if (result == B_OK && own + deeper > *longest) *longest = own + deeper;
            }
        }
        free(reply);
    }
    close_listing_handle(vol, handle);
    return result;
}

// A folder may move only where every path below it still fits the device's limit.
status_t check_move_fits(volume* vol, vnode* olddir, const char* oldname, vnode* newdir,
                         const char* newname) {
    char from[kPathBufferSize];
    char to[kPathBufferSize];
    status_t status = entry_path(vol, olddir, oldname, from);
    if (status == B_OK) status = append_path(from, "\\");
    if (status == B_OK) status = entry_path(vol, newdir, newname, to);
    if (status == B_OK) status = append_path(to, "\\");
    if (status != B_OK) return status;
    size_t length = device_length(to);
    if (length <= device_length(from)) return B_OK;
    size_t longest = 0;
    status = longest_below(vol, from, &longest, 0);
    if (status != B_OK) return status;
    return length + longest <= kPathBufferSize - 1 ? B_OK : B_NAME_TOO_LONG;
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
    if (outcome_unknown(status) && lock_volume(vol) == B_OK) {
        forget_name_in_locked(vol, dir->vnid, name);
        unlock_volume(vol);
    }
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
    if (mode_of(vol, node) & B_S_IFDIR) {
        if (lock_volume(vol) != B_OK) return B_BAD_SEM_ID;
        bool inside = is_below(vol, node, newdir);
        unlock_volume(vol);
        if (inside) return B_BAD_VALUE;  // a directory cannot move into itself
        status_t fits = check_move_fits(vol, olddir, oldname, newdir, newname);
        if (fits != B_OK) return fits;
    }
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
    if (status == B_OK) {
        status = psion_rename(vol, oldpath, newpath);
        if (outcome_unknown(status) && rename_took_effect(vol, oldpath, newpath)) status = B_OK;
        if (outcome_unknown(status)) {
            // The entry may be under either name now: both are asked of the device again.
            forget_node_locked(vol, node);
            forget_name_in_locked(vol, newdir->vnid, newname);
        }
    }
    if (status == B_OK) {
        move_numbers_locked(vol, oldpath, newpath);
        rename_node_locked(vol, node, newdir, copy);
        copy = nullptr;
    }
    unlock_volume(vol);
    free(copy);
    if (status == B_OK)
        notify_listener(B_ENTRY_MOVED, vol->nsid, olddir->vnid, newdir->vnid, id, newname);
    return status;
}
