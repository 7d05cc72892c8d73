// tavro3: what the namespace changes ask of the device about entries. After a request of
// unknown outcome the device is asked what became of the names: whether they exist now settles
// whether it was carried out. An answer that says nothing sure leaves the outcome unknown.
#include <cstdio>
#include <cstring>

#include "tavro.h"
#include "tavro_rfsv.h"

namespace {

status_t entry_info(volume* vol, const char* path) {
    // A folder's own entry is asked for without its trailing separator.
    char entry[kPathBufferSize];
    snprintf(entry, sizeof entry, "%s", path);
    size_t length = strlen(entry);
    if (length > 0 && entry[length - 1] == '\\') entry[length - 1] = '\0';
    uint8 header[RFSV_ENTRY_HEADER_SIZE];
    return psion_finfo(vol, entry, header);
}

bool entry_present(volume* vol, const char* path) { return entry_info(vol, path) == B_OK; }

}  // namespace

bool is_dot_name(const char* name) { return strcmp(name, ".") == 0 || strcmp(name, "..") == 0; }

uint32 mode_of(volume* vol, vnode* node) {
    VolumeLock lock(vol);
    return lock.held() ? node->mode : 0;
}

status_t entry_path(volume* vol, vnode* dir, const char* name, char* path) {
    status_t status = find_path(vol, dir, path);
    if (status != B_OK) return status;
    return append_path(path, name);
}

bool entry_absent(volume* vol, const char* path) {
    return entry_info(vol, path) == B_ENTRY_NOT_FOUND;
}

// The device refuses a rename onto a name that exists, so the old name gone and the new one
// there means the rename was carried out.
bool rename_took_effect(volume* vol, const char* from, const char* to) {
    return entry_absent(vol, from) && entry_present(vol, to);
}
