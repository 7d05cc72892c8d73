// tavro3: directory listings. Each listing yields "." and ".." first, then the device's
// entries, one FDIRREAD reply at a time.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

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

[[nodiscard]] status_t fetch_entries(volume* vol, filecookie* cookie) {
    free(cookie->buffer);
    cookie->buffer = nullptr;
    cookie->length = 0;
    cookie->offset = 0;
    if (cookie->handle < 0) return B_IO_ERROR;
    int32 size = 0;
    status_t transport;
    cookie->buffer = psion_dirread(vol, cookie->handle, &size, &transport);
    if (cookie->buffer == nullptr) return missing_reply(transport);
    size_t entries;
    bool end;
    status_t status = parse_dirread_reply(cookie->buffer, size, &entries, &end);
    if (status != B_OK || end) return status;
    cookie->length = size;
    cookie->offset = static_cast<int32>(entries);
    return B_OK;
}

}  // namespace

void close_listing_handle(volume* vol, int32 handle) { (void)psion_close_handle(vol, handle); }

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
        size_t room = be_dirent_name_room(bufsize);
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
