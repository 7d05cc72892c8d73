// tavro3: unlink and rmdir. A file that is open leaves under a hidden name and is deleted at
// its last close; every other entry is deleted on the device at once.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "tavro.h"
#include "tavro_rfsv.h"

namespace {

[[nodiscard]] status_t check_empty(volume* vol, vnode* dir, bool* empty) {
    int32 handle = open_node(vol, dir, B_O_RDONLY, nullptr);
    if (handle < 0) return handle;
    int32 size = 0;
    status_t transport;
    uint8* reply = psion_dirread(vol, handle, &size, &transport);
    size_t entries = 0;
    bool end = false;
    dir_entry entry;
    status_t result = reply == nullptr ? missing_reply(transport)
                                       : parse_dirread_reply(reply, size, &entries, &end);
    if (result == B_OK && end)
        *empty = true;
    else if (result == B_OK && !parse_dir_entry(reply, size, entries, &entry))
        result = B_IO_ERROR;
    else if (result == B_OK)
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
[[nodiscard]] status_t set_aside(volume* vol, vnode* node) {
    VolumeLock lock(vol);
    if (!lock.held()) return B_BAD_SEM_ID;
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
    return status;
}

// Deletes the entry of a node on the device now, so that a refusal reaches the caller.
[[nodiscard]] status_t delete_entry(volume* vol, vnode* node) {
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
    VolumeLock lock(vol);
    if (!lock.held()) return status;
    if (status == B_OK || status == B_ENTRY_NOT_FOUND) {
        node->deleted = 1;
        drop_numbers_locked(vol, path);
    } else if (outcome_unknown(status))
        forget_node_locked(vol, node);
    return status;
}

[[nodiscard]] status_t remove_entry(volume* vol, vnode* dir, const char* name, bool directory) {
    if (dir == nullptr) return B_ENTRY_NOT_FOUND;
    if (is_dot_name(name)) return B_BAD_VALUE;
    vnode_id id = 0;
    status_t found = get_named_node(vol, dir->vnid, name, &id, NodeUse::kLookup);
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
        VolumeLock lock(vol);
        if (!lock.held()) {
            status = B_BAD_SEM_ID;
        } else {
            bool open = node->opens > 0;
            lock.unlock();
            // The device refuses to delete a file that is open; one of ours that is open
            // leaves under a hidden name now and is deleted when its last user closes it.
            status = open ? set_aside(vol, node) : delete_entry(vol, node);
        }
    }
    // An entry the device does not have is gone from here too; the caller learns it was not
    // there.
    if (status != B_OK && status != B_ENTRY_NOT_FOUND) {
        release_node(vol, id);
        return status;
    }
    if (status == B_ENTRY_NOT_FOUND) {
        bool gone = false;
        if (VolumeLock lock(vol); lock.held()) {
            gone = node->deleted;
        }
        if (!gone) {
            release_node(vol, id);
            return status;
        }
    }

    // The reference taken above keeps the id known to the kernel, which refuses no other.
    (void)remove_vnode(vol->nsid, id);
    if (VolumeLock lock(vol); lock.held()) {
        node->removed = 1;
    }
    notify_change(B_ENTRY_REMOVED, vol, dir->vnid, 0, id, nullptr);
    release_node(vol, id);
    return status;
}

}  // namespace

int tavro_rmdir(void* ns, void* dir, const char* name) {
    return remove_entry(static_cast<volume*>(ns), static_cast<vnode*>(dir), name, true);
}

int tavro_unlink(void* ns, void* dir, const char* name) {
    return remove_entry(static_cast<volume*>(ns), static_cast<vnode*>(dir), name, false);
}
