// tavro3: mount, node records, name lookup and the kernel's vnode hooks.
//
// Node ids are numbers given per device path and kept while the volume is mounted, so a file
// keeps its number when the kernel lets its record go and looks it up again, and renames take
// the numbers along; a deleted path's number goes with it and is never given again. A record
// stays valid as long as anything can reach it: files live from the lookup that made them
// until the kernel releases them; directory records live until unmount (or until removed and
// childless), so that no child's `parent` ever points at freed memory. An id whose record is
// gone finds nothing instead of freed memory.
#include "tavro.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>
#include <mutex>

#include "debug.h"
#include "platform/ByteOrder.h"
#include "tavro_rfsv.h"

struct NodeIndex {
    // Key: the directory's id (8 bytes) followed by the case-folded name.
    std::unordered_map<std::string, vnode*> names;
    std::unordered_set<vnode*> live;
    // Case-folded device path (no trailing separator) -> node id.
    std::unordered_map<std::string, vnode_id> numbers;
};

namespace {

// Node ids of every volume, to their records. Ids start far above any volume id, so that the
// root's ".." (the volume id) is never a node's.
std::mutex idLock;
std::unordered_map<vnode_id, vnode*> idTable;
vnode_id nextId = vnode_id{1} << 32;

vnode_id new_node_id() {
    std::lock_guard<std::mutex> hold(idLock);
    return nextId++;
}

void register_node(vnode* node) {
    std::lock_guard<std::mutex> hold(idLock);
    idTable[node->vnid] = node;
}

void unregister_node(vnode* node) {
    std::lock_guard<std::mutex> hold(idLock);
    auto found = idTable.find(node->vnid);
    if (found != idTable.end() && found->second == node) idTable.erase(found);
}

std::string fold(const char* text) {
    std::string out;
    for (const char* c = text; *c != '\0'; c++)
        out += static_cast<char>(tolower(static_cast<unsigned char>(*c)));
    while (out.size() > 3 && out.back() == '\\') out.pop_back();
    return out;
}


constexpr uint32 kRootMode = B_S_IFDIR | 0777;
constexpr bigtime_t kSizeTimeout = 3000000;
constexpr bigtime_t kReplyTimeout = 10000000;
constexpr int kPublishAttempts = 4;

std::string name_key(int64 dir, const char* name) {
    std::string key(reinterpret_cast<const char*>(&dir), sizeof dir);
    for (const char* c = name; *c != '\0'; c++)
        key += static_cast<char>(tolower(static_cast<unsigned char>(*c)));
    return key;
}

vnode* find_name_locked(volume* vol, int64 dir, const char* name) {
    auto found = vol->index->names.find(name_key(dir, name));
    return found == vol->index->names.end() ? nullptr : found->second;
}

vnode* new_node(const char* name) {
    vnode* node = new (std::nothrow) vnode{};
    if (node == nullptr) return nullptr;
    node->name = strdup(name);
    if (node->name == nullptr) {
        delete node;
        return nullptr;
    }
    return node;
}

void free_node(vnode* node) {
    free_all_attr(node->attrs);
    free(node->name);
    delete node;
}

void free_node_locked(volume* vol, vnode* node) {
    vol->index->live.erase(node);
    unregister_node(node);
    free_node(node);
}

bool is_directory(const vnode* node) { return (node->mode & B_S_IFDIR) != 0; }

// A removed directory is kept while records below it remain; the last of them frees it.
void release_orphans_locked(volume* vol, vnode* dir) {
    while (dir != nullptr && dir != vol->root && dir->removed && !dir->listed && !dir->published &&
           dir->children == nullptr) {
        vnode* up = dir->parent != 0 ? node_of(dir->parent) : nullptr;
        free_node_locked(vol, dir);
        up = (up != nullptr && node_is_live_locked(vol, up)) ? up : nullptr;
        dir = up;
    }
}

}  // namespace

vnode* node_of(vnode_id id) {
    std::lock_guard<std::mutex> hold(idLock);
    auto found = idTable.find(id);
    return found == idTable.end() ? nullptr : found->second;
}

void move_numbers_locked(volume* vol, const char* from, const char* to) {
    std::string old = fold(from);
    std::string now = fold(to);
    auto& numbers = vol->index->numbers;
    numbers.erase(now);  // a replaced entry's number goes with it
    std::string below = old + "\\";
    std::vector<std::pair<std::string, vnode_id>> moved;
    for (auto it = numbers.begin(); it != numbers.end();) {
        if (it->first == old || it->first.compare(0, below.size(), below) == 0) {
            moved.emplace_back(now + it->first.substr(old.size()), it->second);
            it = numbers.erase(it);
        } else {
            ++it;
        }
    }
    for (auto& [key, id] : moved) numbers[key] = id;
}

void drop_numbers_locked(volume* vol, const char* path) {
    std::string gone = fold(path);
    std::string below = gone + "\\";
    auto& numbers = vol->index->numbers;
    for (auto it = numbers.begin(); it != numbers.end();) {
        if (it->first == gone || it->first.compare(0, below.size(), below) == 0)
            it = numbers.erase(it);
        else
            ++it;
    }
}

// --- locks, names and node records --------------------------------------------------------------

status_t lock_volume(volume* vol) { return acquire_sem(vol->lock) == B_OK ? B_OK : B_BAD_SEM_ID; }

void unlock_volume(volume* vol) { release_sem(vol->lock); }

bool is_device_name(const char* name) {
    if (name == nullptr || name[0] == '\0') return false;
    if (strpbrk(name, "\\*?") != nullptr || strlen(name) >= kPathBufferSize) return false;
    // Only names the device's character set can spell.
    char spelled[kPathBufferSize];
    return to_device_text(name, spelled, sizeof spelled) == B_OK;
}

bool node_is_live_locked(volume* vol, vnode* node) {
    return node != nullptr && vol->index->live.count(node) != 0;
}

vnode* lookup_name_locked(volume* vol, vnode_id dir, const char* name) {
    return find_name_locked(vol, dir, name);
}

bool name_pending_delete(volume* vol, vnode_id dir, const char* name) {
    if (lock_volume(vol) != B_OK) return false;
    vnode* found = find_name_locked(vol, dir, name);
    bool pending = found != nullptr && found->removed;
    unlock_volume(vol);
    return pending;
}

void forget_name_locked(volume* vol, vnode* node) {
    auto found = vol->index->names.find(name_key(node->parent, node->name));
    if (found != vol->index->names.end() && found->second == node) vol->index->names.erase(found);
}

void forget_node_locked(volume* vol, vnode* node) {
    forget_name_locked(vol, node);
    node->stale = 1;
}

void forget_name_in_locked(volume* vol, vnode_id dir, const char* name) {
    vnode* found = find_name_locked(vol, dir, name);
    if (found != nullptr) forget_node_locked(vol, found);
}

void refresh_stale_node(volume* vol, vnode* node) {
    if (lock_volume(vol) != B_OK) return;
    char path[kPathBufferSize];
    bool stale = node->stale && !node->removed && node != vol->root;
    bool ok = stale && find_path_locked(vol, node, path) == B_OK;
    bool directory = is_directory(node);
    unlock_volume(vol);
    if (!ok) return;
    // A directory's own entry is asked for without its trailing separator.
    if (directory) path[strlen(path) - 1] = '\0';
    uint8 header[RFSV_ENTRY_HEADER_SIZE];
    if (psion_finfo(vol, path, header) != B_OK) return;
    if (lock_volume(vol) != B_OK) return;
    setup_vnode(node, header);
    node->stale = 0;
    unlock_volume(vol);
}

void list_node_locked(volume* vol, vnode* dir, vnode* node) {
    node->parent = dir->vnid;
    node->next = dir->children;
    node->prev = dir;
    if (dir->children != nullptr) dir->children->prev = node;
    dir->children = node;
    node->listed = 1;
    // A rename onto a name that already has a node leaves the older node unnamed.
    vol->index->names[name_key(dir->vnid, node->name)] = node;
}

void unlist_node_locked(volume* vol, vnode* node) {
    forget_name_locked(vol, node);
    if (!node->listed) return;
    if (node->prev->children == node)
        node->prev->children = node->next;
    else
        node->prev->next = node->next;
    if (node->next != nullptr) node->next->prev = node->prev;
    node->next = nullptr;
    node->prev = nullptr;
    node->listed = 0;
}

void rename_node_locked(volume* vol, vnode* node, vnode* newdir, char* newname) {
    if (node->listed && node->parent == newdir->vnid) {
        // Within one directory only the name changes; the node keeps its place in the list.
        forget_name_locked(vol, node);
        free(node->name);
        node->name = newname;
        vol->index->names[name_key(newdir->vnid, newname)] = node;
        return;
    }
    unlist_node_locked(vol, node);
    free(node->name);
    node->name = newname;
    list_node_locked(vol, newdir, node);
}

void setup_vnode(vnode* node, const uint8* entry) {
    uint16 attributes = BytesToUword(entry + RFSV_ENTRY_ATTRIBUTES);
    if (attributes & RFSV_ATTR_DIRECTORY)
        node->mode = B_S_IFDIR | 0111;
    else
        node->mode = B_S_IFREG | ((attributes & RFSV_ATTR_EXECUTABLE) ? 0555 : 0444);
    if (attributes & RFSV_ATTR_WRITABLE) node->mode |= 0222;
    node->size = BytesToUlong(entry + RFSV_ENTRY_SIZE);
    node->mtime = BytesToUlong(entry + RFSV_ENTRY_TIME);
    node->info_time = system_time();
}

// --- paths
// ----------------------------------------------------------------------------------------

status_t append_path(char* path, const char* tail) {
    size_t length = strlen(path);
    size_t more = strlen(tail);
    if (length + more + 1 > kPathBufferSize) return B_NAME_TOO_LONG;
    memcpy(path + length, tail, more + 1);
    return B_OK;
}

status_t find_path_locked(volume* vol, vnode* node, char* path) {
    // Each level adds at least two characters, so a chain deeper than the buffer cannot fit.
    vnode* chain[kPathBufferSize];
    size_t depth = 0;
    for (vnode* at = node; at->parent != 0; at = node_of(at->parent)) {
        if (depth == kPathBufferSize) return B_NAME_TOO_LONG;
        chain[depth++] = at;
    }
    path[0] = '\0';
    if (append_path(path, vol->device) != B_OK || append_path(path, "\\") != B_OK)
        return B_NAME_TOO_LONG;
    while (depth > 0) {
        vnode* at = chain[--depth];
        if (append_path(path, at->name) != B_OK) return B_NAME_TOO_LONG;
        if (is_directory(at) && append_path(path, "\\") != B_OK) return B_NAME_TOO_LONG;
    }
    return B_OK;
}

status_t find_path(volume* vol, vnode* node, char* path) {
    if (lock_volume(vol) != B_OK) return B_BAD_SEM_ID;
    status_t status = find_path_locked(vol, node, path);
    unlock_volume(vol);
    return status;
}

// --- lookup
// ---------------------------------------------------------------------------------------

vnode* search_vnode(volume* vol, vnode_id* id, vnode_id dirid, const char* name, const uint8* entry,
                    status_t* why) {
    status_t ignored;
    if (why == nullptr) why = &ignored;
    *why = B_ENTRY_NOT_FOUND;
    vnode* dir = node_of(dirid);

    if (strcmp(name, ".") == 0) {
        *id = dirid;
        return dir;
    }
    if (strcmp(name, "..") == 0) {
        if (lock_volume(vol) != B_OK) return nullptr;
        int64 parent = dir->parent;
        unlock_volume(vol);
        if (parent == 0) {
            *id = vol->nsid;
            return nullptr;
        }
        *id = parent;
        return node_of(parent);
    }
    // Nothing a user names may reach another path on the device, or match other files.
    if (!is_device_name(name)) return nullptr;

    if (lock_volume(vol) != B_OK) return nullptr;
    vnode* found = find_name_locked(vol, dirid, name);
    if (found != nullptr) {
        if (entry != nullptr) {
            setup_vnode(found, entry);
            found->stale = 0;
        }
        bool removed = found->removed;
        unlock_volume(vol);
        if (removed) return nullptr;
        *id = found->vnid;
        return found;
    }
    char path[kPathBufferSize];
    status_t status = find_path_locked(vol, dir, path);
    unlock_volume(vol);
    if (status == B_OK) status = append_path(path, name);
    if (entry == nullptr && !vol->connected.load()) {
        *why = B_IO_ERROR;  // a name not known here cannot be looked up without the link
        return nullptr;
    }
    if (status != B_OK) {
        *why = status;
        return nullptr;
    }

    uint8 header[RFSV_ENTRY_HEADER_SIZE];
    if (entry == nullptr) {
        status = psion_finfo(vol, path, header);
        if (status == B_ENTRY_NOT_FOUND && lock_volume(vol) == B_OK) {
            drop_numbers_locked(vol, path);  // gone: a later entry of that name is another
            unlock_volume(vol);
        }
        if (status != B_OK) {
            *why = status;
            return nullptr;
        }
        entry = header;
    }

    vnode* node = new_node(name);
    if (node == nullptr) {
        *why = B_NO_MEMORY;
        return nullptr;
    }
    setup_vnode(node, entry);
    (void)set_mime_type(vol, node);

    if (lock_volume(vol) != B_OK) {
        free_node(node);
        return nullptr;
    }
    // Another thread may have made the same node while this one asked the device.
    found = find_name_locked(vol, dirid, name);
    if (found != nullptr) {
        bool removed = found->removed;
        unlock_volume(vol);
        free_node(node);
        if (removed) return nullptr;
        *id = found->vnid;
        return found;
    }
    std::string key = fold(path);
    auto numbered = vol->index->numbers.find(key);
    if (numbered != vol->index->numbers.end()) {
        vnode* holder = node_of(numbered->second);
        if (holder != nullptr && node_is_live_locked(vol, holder) && !holder->removed &&
            holder->parent == dirid) {
            // The record was forgotten after a request whose effect was unknown, and the
            // device has the entry where it was: it is the same one.
            setup_vnode(holder, entry);
            holder->stale = 0;
            vol->index->names[name_key(dirid, holder->name)] = holder;
            unlock_volume(vol);
            free_node(node);
            *id = holder->vnid;
            return holder;
        }
        node->vnid = holder == nullptr ? numbered->second : new_node_id();
    } else {
        node->vnid = new_node_id();
    }
    vol->index->numbers[key] = node->vnid;
    vol->index->live.insert(node);
    register_node(node);
    list_node_locked(vol, dir, node);
    unlock_volume(vol);
    *id = node->vnid;
    return node;
}

void place_append_handle(volume* vol, vnode* node, filecookie* cookie) {
    if (!cookie->append || lock_volume(vol) != B_OK) return;
    // The device opens an append at the end of the file.
    cookie->offset = node->stale || node->size > INT32_MAX ? kPositionUnknown
                                                           : static_cast<int32>(node->size);
    unlock_volume(vol);
}

int32 open_node(volume* vol, vnode* node, int omode, const char* name) {
    if (!vol->connected.load()) return B_ENTRY_NOT_FOUND;
    char path[kPathBufferSize];
    if (lock_volume(vol) != B_OK) return B_BAD_SEM_ID;
    status_t status = find_path_locked(vol, node, path);
    bool directory = is_directory(node);
    unlock_volume(vol);
    if (status != B_OK) return status;

    bool listing = directory && !(omode & B_O_CREAT);
    if (name != nullptr && (omode & B_O_CREAT)) {
        if (!is_device_name(name)) return B_BAD_VALUE;
        status = append_path(path, name);
    }
    if (listing) status = append_path(path, "*.*");
    if (status != B_OK) return status;

    bool creating = name != nullptr && (omode & B_O_CREAT);
    int32 handle = psion_open(
        vol, creating ? create_mode_word(omode) : open_mode_word(omode, listing), path);
    // An existing file opened in replace mode is empty now; after a replace-mode open of
    // unknown outcome it may be, and its size is asked of the device again.
    bool replace = name == nullptr && !listing && (omode & (B_O_CREAT | B_O_TRUNC));
    if (replace && (handle >= 0 || outcome_unknown(handle))) {
        if (lock_volume(vol) == B_OK) {
            if (handle >= 0)
                node->size = 0;
            else
                node->stale = 1;
            unlock_volume(vol);
        }
    }
    return handle;
}

// --- mount
// ----------------------------------------------------------------------------------------

namespace {

int32 block_long(const uint8* block, size_t offset) {
    return static_cast<int32>(BytesToUlong(block + offset));
}

void block_string(const uint8* block, size_t offset, char* out, size_t size) {
    size_t length = strnlen(reinterpret_cast<const char*>(block + offset), size - 1);
    memcpy(out, block + offset, length);
    out[length] = '\0';
}

void free_volume(volume* vol) {
    if (vol->index != nullptr) {
        for (vnode* node : vol->index->live) {
            unregister_node(node);
            free_node(node);
        }
        delete vol->index;
    }
    if (vol->lock >= 0) delete_sem(vol->lock);
    delete vol->info;
    delete vol;
}

}  // namespace

int fs_mount(nspace_id nsid, const char*, unsigned long, void* parms, size_t len, void** ns,
             vnode_id* rootid) {
    if (parms == nullptr || len < MNT_BLOCK_SIZE) return B_BAD_VALUE;
    const uint8* block = static_cast<const uint8*>(parms);
    int32 writePort = block_long(block, mnt_offset::writePort);
    int32 readPort = block_long(block, mnt_offset::readPort);
    if (writePort < 0 || readPort < 0) return B_BAD_VALUE;

    volume* vol = new (std::nothrow) volume{};
    if (vol == nullptr) return B_NO_MEMORY;
    vol->lock = -1;
    vol->nsid = nsid;
    vol->writePort = writePort;
    vol->readPort = readPort;
    vol->channel = BytesToUword(block + mnt_offset::channel);
    vol->sem = block_long(block, mnt_offset::sem);
    block_string(block, mnt_offset::device, vol->device, sizeof vol->device);
    vol->sizeTimeout = kSizeTimeout;
    vol->replyTimeout = kReplyTimeout;
    vol->index = new (std::nothrow) NodeIndex;
    vol->lock = create_sem(1, "PSION Device");
    if (vol->index == nullptr || vol->lock < 0) {
        free_volume(vol);
        return B_NO_MEMORY;
    }
    vol->connected.store(1);

    char debugFile[MNT_NAME_LENGTH];
    block_string(block, mnt_offset::debugFile, debugFile, sizeof debugFile);
    set_debug_file(debugFile);

    vnode* root = new_node("\\");
    if (root == nullptr) {
        free_volume(vol);
        return B_NO_MEMORY;
    }
    root->mode = kRootMode;
    root->vnid = new_node_id();
    vol->root = root;
    vol->index->live.insert(root);
    register_node(root);
    if (write_volume_attrs(vol, root) != B_OK || new_vnode(nsid, root->vnid, root) != B_OK) {
        free_volume(vol);
        return B_BAD_VALUE;
    }
    root->published = 1;
    attach_handle_book(vol);
    *ns = vol;
    *rootid = root->vnid;
    return B_OK;
}

int fs_unmount(void* ns) {
    detach_handle_book(static_cast<volume*>(ns));
    free_volume(static_cast<volume*>(ns));
    return B_OK;
}

status_t check_writable(volume* vol) {
    uint8 media = vol->media.load();
    if (media == kMediaUnknown) {
        device_info device;
        if (psion_deviceinfo(vol, &device) != B_OK) return B_OK;  // the device will tell
        media = is_read_only_media(device.media) ? kMediaReadOnly : kMediaWritable;
        vol->media.store(media);
    }
    return media == kMediaReadOnly ? B_READ_ONLY_DEVICE : B_OK;
}

// The figures are asked of the device each time, so that free space follows writes and
// deletes; the last answer stands in while the device cannot be asked.
int fs_rfsstat(void* ns, fs_info* out) {
    volume* vol = static_cast<volume*>(ns);
    device_info device;
    status_t asked = psion_deviceinfo(vol, &device);
    if (lock_volume(vol) != B_OK) return B_BAD_SEM_ID;
    if (asked == B_OK) {
        if (vol->info == nullptr) vol->info = new (std::nothrow) fs_info{};
        if (vol->info == nullptr) {
            unlock_volume(vol);
            return B_NO_MEMORY;
        }
        fs_info* info = vol->info;
        info->dev = vol->nsid;
        info->root = vol->root->vnid;
        info->flags = B_FS_HAS_ATTR | B_FS_HAS_MIME | B_FS_IS_PERSISTENT | B_FS_IS_REMOVABLE;
        bool readOnly = is_read_only_media(device.media);
        if (readOnly) info->flags |= B_FS_IS_READONLY;
        vol->media.store(readOnly ? kMediaReadOnly : kMediaWritable);
        info->block_size = 1;
        info->io_size = RFSV_MAX_READ_CHUNK;
        info->total_blocks = device.total;
        info->free_blocks = device.free;
        // The device keeps no node table; it can hold about one file per block it has free.
        constexpr uint32 kBlockBytes = 512;
        info->total_nodes = device.total / kBlockBytes;
        info->free_nodes = device.free / kBlockBytes;
        block_string(reinterpret_cast<const uint8*>(vol->device), 0, info->device_name,
                     sizeof info->device_name);
        memcpy(info->volume_name, device.volume_name, sizeof info->volume_name);
        strcpy(info->fsh_name, "tavro3");
    }
    if (vol->info == nullptr) {
        unlock_volume(vol);
        return asked;
    }
    *out = *vol->info;
    unlock_volume(vol);
    return B_OK;
}

// --- vnode hooks
// ----------------------------------------------------------------------------------

// Takes a kernel reference on a node that a lookup returned. The record may have been released
// between the lookup and now; the lookup is then repeated.
status_t get_named_node(volume* vol, vnode_id dirid, const char* name, vnode_id* id, bool walk) {
    status_t why = B_ENTRY_NOT_FOUND;
    for (int attempt = 0; attempt < kPublishAttempts; attempt++) {
        if (search_vnode(vol, id, dirid, name, nullptr, &why) == nullptr) return why;
        if (walk && !vol->connected.load()) return B_NOT_ALLOWED;
        void* node;
        if (get_vnode(vol->nsid, *id, &node) != B_OK) continue;
        // The record may have been released and its address reused by another node since
        // the lookup: only the node that still bears the name will do.
        bool same = strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
        if (!same && lock_volume(vol) == B_OK) {
            same = lookup_name_locked(vol, dirid, name) == node;
            unlock_volume(vol);
        }
        if (same) return B_OK;
        put_vnode(vol->nsid, *id);
    }
    return B_BAD_VALUE;
}

int fs_walk(void* ns, void* dir, const char* name, char**, vnode_id* vnid) {
    volume* vol = static_cast<volume*>(ns);
    if (dir == nullptr) return B_ENTRY_NOT_FOUND;
    return get_named_node(vol, static_cast<vnode*>(dir)->vnid, name, vnid, true);
}

int fs_read_vnode(void* ns, vnode_id vnid, char, void** out) {
    volume* vol = static_cast<volume*>(ns);
    if (vnid == 0) return B_NO_MEMORY;
    vnode* node = node_of(vnid);
    if (lock_volume(vol) != B_OK) return B_BAD_SEM_ID;
    if (!node_is_live_locked(vol, node) || node->removed) {
        unlock_volume(vol);
        return B_ENTRY_NOT_FOUND;
    }
    node->published = 1;
    unlock_volume(vol);
    *out = node;
    return B_OK;
}

// The volume lock is taken even when the kernel calls re-entrantly: this file system never
// holds it across a call into the kernel, so the call cannot come from under it.
int fs_write_vnode(void* ns, void* vnode_, char) {
    volume* vol = static_cast<volume*>(ns);
    vnode* node = static_cast<vnode*>(vnode_);
    if (node == nullptr) return B_ENTRY_NOT_FOUND;
    if (lock_volume(vol) != B_OK) return B_BAD_SEM_ID;
    node->published = 0;
    if (node == vol->root) {
        // The root lives, with its volume attributes, until unmount.
    } else if (is_directory(node)) {
        // Kept for the records below it; what users wrote to it goes with the kernel's copy.
        free_all_attr(node->attrs);
        node->attrs = nullptr;
    } else {
        int64 parent = node->parent;
        unlist_node_locked(vol, node);
        free_node_locked(vol, node);
        if (parent != 0) release_orphans_locked(vol, node_of(parent));
    }
    unlock_volume(vol);
    return B_OK;
}

int fs_remove_vnode(void* ns, void* vnode_, char) {
    volume* vol = static_cast<volume*>(ns);
    vnode* node = static_cast<vnode*>(vnode_);
    if (node == nullptr) return B_ENTRY_NOT_FOUND;
    if (lock_volume(vol) != B_OK) return B_BAD_SEM_ID;
    node->published = 0;
    char path[kPathBufferSize];
    // An unlinked file that was open when it was unlinked was moved to a hidden name; it
    // leaves the device now, at its last reference. Everything else was deleted at unlink.
    if (!node->deleted && find_path_locked(vol, node, path) == B_OK && vol->connected.load())
        (void)psion_delete(vol, path);
    int64 parent = node->parent;
    unlist_node_locked(vol, node);
    if (node->children == nullptr && node != vol->root) {
        free_node_locked(vol, node);
        if (parent != 0) release_orphans_locked(vol, node_of(parent));
    }
    unlock_volume(vol);
    return B_OK;
}

int fs_secure_vnode(void*, void* node) { return node == nullptr ? B_ENTRY_NOT_FOUND : B_OK; }

int fs_access(void*, void*, int) { return B_OK; }

int fs_readlink(void*, void*, char*, size_t*) { return B_BAD_VALUE; }

int fs_open(void* ns, void* vnode_, int omode, void** cookie) {
    volume* vol = static_cast<volume*>(ns);
    vnode* node = static_cast<vnode*>(vnode_);
    if (node == nullptr) return B_ENTRY_NOT_FOUND;
    if (!vol->connected.load()) {
        *cookie = nullptr;
        return B_ENTRY_NOT_FOUND;
    }
    // The node exists: an exclusive create must fail, and a create without O_TRUNC must not
    // empty it (the device's replace mode would).
    if ((omode & B_O_CREAT) && (omode & B_O_EXCL)) return B_FILE_EXISTS;
    filecookie* file = new (std::nothrow) filecookie{};
    if (file == nullptr) return B_NO_MEMORY;
    file->handle = open_node(vol, node, omode & ~B_O_CREAT, nullptr);
    if (file->handle < 0) {
        status_t status = file->handle;
        delete file;
        *cookie = nullptr;
        return status;
    }
    file->append = (omode & B_O_APPEND) != 0;
    if (lock_volume(vol) == B_OK) {
        node->opens++;
        unlock_volume(vol);
    }
    place_append_handle(vol, node, file);
    *cookie = file;
    return B_OK;
}

// --- the operation table
// --------------------------------------------------------------------------

extern "C" {

__attribute__((visibility("default"))) int32 api_version = B_CURRENT_FS_API_VERSION;

__attribute__((visibility("default"))) vnode_ops fs_entry = {
    fs_read_vnode,             // 0 read_vnode
    fs_write_vnode,            // 1 write_vnode
    fs_remove_vnode,           // 2 remove_vnode
    fs_secure_vnode,           // 3 secure_vnode
    fs_walk,                   // 4 walk
    fs_access,                 // 5 access
    tavro_create,              // 6 create
    tavro_mkdir,               // 7 mkdir
    nullptr,                   // 8 symlink
    nullptr,                   // 9 link
    fs_rename,                 // 10 rename
    tavro_unlink,              // 11 unlink
    tavro_rmdir,               // 12 rmdir
    fs_readlink,               // 13 readlink
    tavro_opendir,             // 14 opendir
    tavro_closedir,            // 15 closedir
    tavro_free_dircookie,      // 16 free_dircookie
    tavro_rewinddir,           // 17 rewinddir
    tavro_readdir,             // 18 readdir
    fs_open,                   // 19 open
    tavro_close,               // 20 close
    tavro_free_cookie,         // 21 free_cookie
    tavro_read,                // 22 read
    tavro_write,               // 23 write
    nullptr,                   // 24 readv
    nullptr,                   // 25 writev
    tavro_ioctl,               // 26 ioctl
    nullptr,                   // 27 setflags
    tavro_rstat,               // 28 rstat
    tavro_wstat,               // 29 wstat
    nullptr,                   // 30 fsync
    nullptr,                   // 31 initialize
    fs_mount,                  // 32 mount
    fs_unmount,                // 33 unmount
    nullptr,                   // 34 sync
    fs_rfsstat,                // 35 rfsstat
    nullptr,                   // 36 wfsstat
    nullptr,                   // 37 select
    nullptr,                   // 38 deselect
    nullptr,                   // 39 open_indexdir
    nullptr,                   // 40 close_indexdir
    nullptr,                   // 41 free_indexdircookie
    nullptr,                   // 42 rewind_indexdir
    nullptr,                   // 43 read_indexdir
    nullptr,                   // 44 create_index
    nullptr,                   // 45 remove_index
    nullptr,                   // 46 rename_index
    nullptr,                   // 47 stat_index
    tavro_open_attrdir,        // 48 open_attrdir
    tavro_close_attrdir,       // 49 close_attrdir
    tavro_free_attrdircookie,  // 50 free_attrdircookie
    tavro_rewind_attrdir,      // 51 rewind_attrdir
    tavro_read_attrdir,        // 52 read_attrdir
    fs_write_attr,             // 53 write_attr
    tavro_read_attr,           // 54 read_attr
    fs_remove_attr,            // 55 remove_attr
    fs_rename_attr,            // 56 rename_attr
    tavro_stat_attr,           // 57 stat_attr
    nullptr,                   // 58 open_query
    nullptr,                   // 59 close_query
    nullptr,                   // 60 free_querycookie
    nullptr,                   // 61 read_query
};

}  // extern "C"
