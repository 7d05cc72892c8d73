// tavro3: node records, their index and their device paths.
//
// Node ids are numbers given per device path and kept while the volume is mounted, so a file
// keeps its number when the kernel lets its record go and looks it up again, and renames take
// the numbers along; a deleted path's number goes with it and is never given again. A record
// stays valid as long as anything can reach it: files live from the lookup that made them
// until the kernel releases them; directory records live until unmount (or until removed and
// childless), so that no child's `parent` ever points at freed memory. An id whose record is
// gone finds nothing instead of freed memory.
#include "tavro_nodes.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "platform/ByteOrder.h"
#include "tavro_rfsv.h"

namespace {

// Node ids of every volume, to their records. Ids start far above any volume id, so that the
// root's ".." (the volume id) is never a node's.
std::mutex idLock;
std::unordered_map<vnode_id, vnode*> idTable;
vnode_id nextId = vnode_id{1} << 32;

}  // namespace

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
    VolumeLock lock(vol);
    if (!lock.held()) return false;
    vnode* found = find_name_locked(vol, dir, name);
    bool pending = found != nullptr && found->removed;
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
    VolumeLock lock(vol);
    if (!lock.held()) return B_BAD_SEM_ID;
    return find_path_locked(vol, node, path);
}
