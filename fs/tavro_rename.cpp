// tavro3: rename. A folder moves only where every path below it still fits the device's
// limit; a rename whose reply went wrong is settled by asking the device for both names.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "tavro.h"
#include "tavro_rfsv.h"

namespace {

size_t device_length(const char* path) {
    char spelled[RFSV_REQUEST_BUFFER_SIZE];
    return to_device_text(path, spelled, sizeof spelled) == B_OK ? strlen(spelled)
                                                                 : RFSV_REQUEST_BUFFER_SIZE;
}

// The longest path below the folder `dir` (its path, ending in the separator), counted in
// device characters from the end of the folder's path; folders count their separator.
[[nodiscard]] status_t longest_below(volume* vol, const char* dir, size_t* longest, int depth) {
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
        size_t offset = 0;
        bool end = false;
        result = reply == nullptr ? missing_reply(transport)
                                  : parse_dirread_reply(reply, size, &offset, &end);
        if (result == B_OK && end) {
            more = false;
        } else if (result == B_OK) {
            dir_entry entry;
            while (result == B_OK && offset < static_cast<size_t>(size)) {
                if (!parse_dir_entry(reply, size, offset, &entry)) {
                    result = B_IO_ERROR;
                    break;
                }
                offset = entry.next;
                bool folder = entry_is_directory(entry.header);
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
[[nodiscard]] status_t check_move_fits(volume* vol, vnode* olddir, const char* oldname,
                                       vnode* newdir, const char* newname) {
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

bool is_below(vnode* node, vnode* dir) {
    for (vnode* at = dir; at != nullptr; at = at->parent != 0 ? node_of(at->parent) : nullptr)
        if (at == node) return true;
    return false;
}

// A directory cannot move into itself, and moves only where every path below it still fits.
[[nodiscard]] status_t check_directory_move(volume* vol, vnode* node, vnode* olddir,
                                            const char* oldname, vnode* newdir,
                                            const char* newname) {
    {
        VolumeLock lock(vol);
        if (!lock.held()) return B_BAD_SEM_ID;
        if (is_below(node, newdir)) return B_BAD_VALUE;
    }
    return check_move_fits(vol, olddir, oldname, newdir, newname);
}

// Renames the entry of `node` on the device, leaving its paths in `oldpath` and `newpath`. A
// rename of unknown outcome is settled by asking the device; when that says nothing sure, the
// entry may be under either name, and both are asked of the device again later.
[[nodiscard]] status_t rename_entry_locked(volume* vol, vnode* node, vnode* olddir,
                                           const char* oldname, vnode* newdir, const char* newname,
                                           char* oldpath, char* newpath) {
    if (lookup_name_locked(vol, olddir->vnid, oldname) != node || node->removed)
        return B_ENTRY_NOT_FOUND;  // released, renamed or unlinked since the lookup
    if (is_below(node, newdir)) return B_BAD_VALUE;  // a directory cannot move into itself
    status_t status = find_path_locked(vol, olddir, oldpath);
    if (status == B_OK) status = append_path(oldpath, oldname);
    if (status == B_OK) status = find_path_locked(vol, newdir, newpath);
    if (status == B_OK) status = append_path(newpath, newname);
    if (status != B_OK) return status;
    status = psion_rename(vol, oldpath, newpath);
    if (outcome_unknown(status) && rename_took_effect(vol, oldpath, newpath)) status = B_OK;
    if (outcome_unknown(status)) {
        forget_node_locked(vol, node);
        forget_name_in_locked(vol, newdir->vnid, newname);
    }
    return status;
}

}  // namespace

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
        status_t movable = check_directory_move(vol, node, olddir, oldname, newdir, newname);
        if (movable != B_OK) return movable;
    }
    char* copy = strdup(newname);
    if (copy == nullptr) return B_NO_MEMORY;

    status_t status;
    {
        VolumeLock lock(vol);
        char oldpath[kPathBufferSize];
        char newpath[kPathBufferSize];
        status = lock.held() ? rename_entry_locked(vol, node, olddir, oldname, newdir, newname,
                                                   oldpath, newpath)
                             : B_BAD_SEM_ID;
        if (status == B_OK) {
            move_numbers_locked(vol, oldpath, newpath);
            rename_node_locked(vol, node, newdir, copy);
            copy = nullptr;
        }
    }
    free(copy);
    if (status == B_OK) notify_change(B_ENTRY_MOVED, vol, olddir->vnid, newdir->vnid, id, newname);
    return status;
}
