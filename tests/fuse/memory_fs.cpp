#include "memory_fs.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace memfs {

namespace {

struct CaseLess {
    bool operator()(const std::string& a, const std::string& b) const {
        return strcasecmp(a.c_str(), b.c_str()) < 0;
    }
};

struct Attribute {
    uint32 type;
    std::string value;
};

struct Node {
    vnode_id id = 0;
    vnode_id parent = 0;
    bool directory = false;
    std::string data;
    int64 mtime = 0;
    std::map<std::string, vnode_id, CaseLess> children;
    std::vector<std::pair<std::string, Attribute>> attributes;  // newest first
};

struct Volume {
    nspace_id nsid = 0;
    std::mutex lock;  // guards everything below; never held across a kernel callback
    std::map<vnode_id, std::unique_ptr<Node>> nodes;
    vnode_id next_id = 1001;
    vnode_id root = 1000;
    int64 capacity = 0;
    int64 used = 0;
};

struct FileCookie {
    int omode;
};

struct ListCookie {
    std::vector<std::pair<std::string, vnode_id>> entries;
    size_t index = 0;
};

int64 capacity_for_new_volumes = 64 << 20;

Volume* V(void* ns) { return static_cast<Volume*>(ns); }
Node* N(void* node) { return static_cast<Node*>(node); }

Node* make_node(Volume* v, vnode_id parent, bool directory) {
    auto node = std::make_unique<Node>();
    node->id = v->next_id++;
    node->parent = parent;
    node->directory = directory;
    node->mtime = time(nullptr);
    Node* raw = node.get();
    v->nodes.emplace(raw->id, std::move(node));
    return raw;
}

void snapshot(Volume* v, Node* dir, ListCookie* cookie) {
    std::lock_guard<std::mutex> guard(v->lock);
    cookie->entries.clear();
    cookie->entries.emplace_back(".", dir->id);
    cookie->entries.emplace_back("..", dir->id == v->root ? dir->id : dir->parent);
    for (const auto& [name, id] : dir->children) cookie->entries.emplace_back(name, id);
    cookie->index = 0;
}

Attribute* find_attribute(Node* node, const char* name) {
    for (auto& [attr_name, attr] : node->attributes) {
        if (attr_name == name) return &attr;
    }
    return nullptr;
}

int fs_mount(nspace_id nsid, const char*, unsigned long, void*, size_t, void** ns, vnode_id* root) {
    auto* v = new Volume;
    v->nsid = nsid;
    v->capacity = capacity_for_new_volumes;
    auto node = std::make_unique<Node>();
    node->id = v->root;
    node->parent = v->root;
    node->directory = true;
    node->mtime = time(nullptr);
    Node* raw = node.get();
    v->nodes.emplace(v->root, std::move(node));
    *ns = v;
    *root = v->root;
    return new_vnode(nsid, v->root, raw);
}

int fs_unmount(void* ns) {
    delete V(ns);
    return B_OK;
}

int fs_read_vnode(void* ns, vnode_id vnid, char, void** node) {
    Volume* v = V(ns);
    std::lock_guard<std::mutex> guard(v->lock);
    auto found = v->nodes.find(vnid);
    if (found == v->nodes.end()) return B_ENTRY_NOT_FOUND;
    *node = found->second.get();
    return B_OK;
}

int fs_write_vnode(void*, void*, char) { return B_OK; }

int fs_remove_vnode(void* ns, void* node, char) {
    Volume* v = V(ns);
    std::lock_guard<std::mutex> guard(v->lock);
    v->used -= static_cast<int64>(N(node)->data.size());
    v->nodes.erase(N(node)->id);
    return B_OK;
}

int fs_walk(void* ns, void* dir, const char* name, char**, vnode_id* vnid) {
    Volume* v = V(ns);
    {
        std::lock_guard<std::mutex> guard(v->lock);
        Node* d = N(dir);
        if (!d->directory) return B_NOT_A_DIRECTORY;
        if (std::strcmp(name, ".") == 0) {
            *vnid = d->id;
        } else if (std::strcmp(name, "..") == 0) {
            *vnid = d->parent;
        } else {
            auto found = d->children.find(name);
            if (found == d->children.end()) return B_ENTRY_NOT_FOUND;
            *vnid = found->second;
        }
    }
    void* node = nullptr;
    return get_vnode(v->nsid, *vnid, &node);
}

int fs_access(void*, void*, int) { return B_OK; }

int fs_create(void* ns, void* dir, const char* name, int omode, int, vnode_id* vnid,
              void** cookie) {
    Volume* v = V(ns);
    Node* created = nullptr;
    {
        std::lock_guard<std::mutex> guard(v->lock);
        Node* d = N(dir);
        auto found = d->children.find(name);
        if (found != d->children.end()) {
            if (omode & B_O_EXCL) return B_FILE_EXISTS;
            Node* existing = v->nodes[found->second].get();
            if (existing->directory) return B_IS_A_DIRECTORY;
            if (omode & B_O_TRUNC) {
                v->used -= static_cast<int64>(existing->data.size());
                existing->data.clear();
            }
            *vnid = existing->id;
        } else {
            created = make_node(v, d->id, false);
            d->children.emplace(name, created->id);
            *vnid = created->id;
        }
    }
    status_t status = B_OK;
    if (created != nullptr) {
        status = new_vnode(v->nsid, *vnid, created);
    } else {
        void* node = nullptr;
        status = get_vnode(v->nsid, *vnid, &node);
    }
    if (status != B_OK) return status;
    *cookie = new FileCookie{omode};
    return B_OK;
}

int fs_mkdir(void* ns, void* dir, const char* name, int) {
    Volume* v = V(ns);
    std::lock_guard<std::mutex> guard(v->lock);
    Node* d = N(dir);
    if (d->children.count(name) != 0) return B_FILE_EXISTS;
    Node* created = make_node(v, d->id, true);
    d->children.emplace(name, created->id);
    return B_OK;
}

int fs_rename(void* ns, void* olddir, const char* oldname, void* newdir, const char* newname) {
    Volume* v = V(ns);
    std::lock_guard<std::mutex> guard(v->lock);
    Node* from = N(olddir);
    Node* to = N(newdir);
    auto found = from->children.find(oldname);
    if (found == from->children.end()) return B_ENTRY_NOT_FOUND;
    vnode_id id = found->second;
    auto existing = to->children.find(newname);
    if (existing != to->children.end() && existing->second != id) return B_FILE_EXISTS;
    from->children.erase(found);
    if (existing != to->children.end()) to->children.erase(existing);
    to->children.emplace(newname, id);
    v->nodes[id]->parent = to->id;
    return B_OK;
}

int remove_entry(void* ns, void* dir, const char* name, bool directory) {
    Volume* v = V(ns);
    vnode_id id = 0;
    {
        std::lock_guard<std::mutex> guard(v->lock);
        Node* d = N(dir);
        auto found = d->children.find(name);
        if (found == d->children.end()) return B_ENTRY_NOT_FOUND;
        Node* node = v->nodes[found->second].get();
        if (directory && !node->directory) return B_NOT_A_DIRECTORY;
        if (!directory && node->directory) return B_IS_A_DIRECTORY;
        if (directory && !node->children.empty()) return B_DIRECTORY_NOT_EMPTY;
        id = node->id;
        d->children.erase(found);
    }
    void* node = nullptr;
    status_t status = get_vnode(v->nsid, id, &node);
    if (status != B_OK) return status;
    (void)remove_vnode(v->nsid, id);
    (void)put_vnode(v->nsid, id);
    return B_OK;
}

int fs_unlink(void* ns, void* dir, const char* name) { return remove_entry(ns, dir, name, false); }
int fs_rmdir(void* ns, void* dir, const char* name) { return remove_entry(ns, dir, name, true); }

int fs_opendir(void* ns, void* node, void** cookie) {
    if (!N(node)->directory) return B_NOT_A_DIRECTORY;
    auto* list = new ListCookie;
    snapshot(V(ns), N(node), list);
    *cookie = list;
    return B_OK;
}

int fs_closedir(void*, void*, void*) { return B_OK; }

int fs_free_dircookie(void*, void*, void* cookie) {
    delete static_cast<ListCookie*>(cookie);
    return B_OK;
}

int fs_rewinddir(void* ns, void* node, void* cookie) {
    snapshot(V(ns), N(node), static_cast<ListCookie*>(cookie));
    return B_OK;
}

int read_list(void* ns, void* node, void* cookie, long* num, be_dirent* buf) {
    auto* list = static_cast<ListCookie*>(cookie);
    if (list->index >= list->entries.size()) {
        *num = 0;
        return B_OK;
    }
    const auto& [name, id] = list->entries[list->index++];
    buf->d_dev = V(ns)->nsid;
    buf->d_pdev = V(ns)->nsid;
    buf->d_ino = id;
    buf->d_pino = N(node)->id;
    std::snprintf(buf->d_name, sizeof buf->d_name, "%s", name.c_str());
    buf->d_reclen = static_cast<uint16>(name.size());
    *num = 1;
    return B_OK;
}

int fs_readdir(void* ns, void* node, void* cookie, long* num, be_dirent* buf, size_t) {
    return read_list(ns, node, cookie, num, buf);
}

int fs_open(void* ns, void* node, int omode, void** cookie) {
    Volume* v = V(ns);
    std::lock_guard<std::mutex> guard(v->lock);
    Node* n = N(node);
    if (n->directory && (omode & B_O_ACCMODE) != B_O_RDONLY) return B_IS_A_DIRECTORY;
    if (omode & B_O_TRUNC) {
        v->used -= static_cast<int64>(n->data.size());
        n->data.clear();
    }
    *cookie = new FileCookie{omode};
    return B_OK;
}

int fs_close(void*, void*, void*) { return B_OK; }

int fs_free_cookie(void*, void*, void* cookie) {
    delete static_cast<FileCookie*>(cookie);
    return B_OK;
}

int fs_read(void* ns, void* node, void*, off_t pos, void* buf, size_t* len) {
    std::lock_guard<std::mutex> guard(V(ns)->lock);
    Node* n = N(node);
    if (n->directory) return B_IS_A_DIRECTORY;
    size_t size = n->data.size();
    size_t start = pos < 0 ? size : std::min(static_cast<size_t>(pos), size);
    *len = std::min(*len, size - start);
    std::memcpy(buf, n->data.data() + start, *len);
    return B_OK;
}

int fs_write(void* ns, void* node, void* cookie, off_t pos, const void* buf, size_t* len) {
    Volume* v = V(ns);
    std::lock_guard<std::mutex> guard(v->lock);
    Node* n = N(node);
    if (static_cast<FileCookie*>(cookie)->omode & B_O_APPEND) pos = n->data.size();
    size_t end = static_cast<size_t>(pos) + *len;
    int64 growth = end > n->data.size() ? static_cast<int64>(end - n->data.size()) : 0;
    if (v->used + growth > v->capacity) {
        *len = 0;
        return B_DEVICE_FULL;
    }
    if (end > n->data.size()) n->data.resize(end);
    std::memcpy(n->data.data() + pos, buf, *len);
    v->used += growth;
    n->mtime = time(nullptr);
    return B_OK;
}

int fs_rstat(void* ns, void* node, be_stat* st) {
    Volume* v = V(ns);
    std::lock_guard<std::mutex> guard(v->lock);
    Node* n = N(node);
    *st = be_stat{};
    st->st_dev = v->nsid;
    st->st_ino = n->id;
    st->st_mode = n->directory ? (B_S_IFDIR | 0755) : (B_S_IFREG | 0644);
    st->st_nlink = 1;
    st->st_size = static_cast<int64>(n->data.size());
    st->st_blksize = 512;
    st->st_atim = st->st_mtim = st->st_ctim = st->st_crtim = {n->mtime, 0};
    return B_OK;
}

int fs_wstat(void* ns, void* node, be_stat* st, long mask) {
    Volume* v = V(ns);
    std::lock_guard<std::mutex> guard(v->lock);
    Node* n = N(node);
    if (mask & WSTAT_MTIME) n->mtime = st->st_mtim.tv_sec;
    if (mask & WSTAT_SIZE) {
        if (n->directory) return B_IS_A_DIRECTORY;
        v->used += st->st_size - static_cast<int64>(n->data.size());
        n->data.resize(static_cast<size_t>(st->st_size));
    }
    return B_OK;
}

int fs_rfsstat(void* ns, fs_info* info) {
    Volume* v = V(ns);
    std::lock_guard<std::mutex> guard(v->lock);
    info->flags = B_FS_HAS_ATTR | B_FS_HAS_MIME;
    info->block_size = 512;
    info->io_size = 4096;
    info->total_blocks = v->capacity / 512;
    info->free_blocks = (v->capacity - v->used) / 512;
    std::snprintf(info->volume_name, sizeof info->volume_name, "memory");
    std::snprintf(info->fsh_name, sizeof info->fsh_name, "memfs");
    return B_OK;
}

int fs_open_attrdir(void* ns, void* node, void** cookie) {
    auto* list = new ListCookie;
    std::lock_guard<std::mutex> guard(V(ns)->lock);
    for (const auto& [name, attr] : N(node)->attributes) list->entries.emplace_back(name, 0);
    *cookie = list;
    return B_OK;
}

int fs_rewind_attrdir(void*, void*, void* cookie) {
    static_cast<ListCookie*>(cookie)->index = 0;
    return B_OK;
}

int fs_read_attrdir(void* ns, void* node, void* cookie, long* num, be_dirent* buf, size_t) {
    return read_list(ns, node, cookie, num, buf);
}

int fs_write_attr(void* ns, void* node, const char* name, int type, const void* buf, size_t* len,
                  off_t pos) {
    std::lock_guard<std::mutex> guard(V(ns)->lock);
    Node* n = N(node);
    Attribute* attr = find_attribute(n, name);
    if (attr == nullptr) {
        n->attributes.insert(n->attributes.begin(),
                             {name, Attribute{static_cast<uint32>(type), ""}});
        attr = &n->attributes.front().second;
    }
    size_t end = static_cast<size_t>(pos) + *len;
    if (end > attr->value.size()) attr->value.resize(end);
    std::memcpy(attr->value.data() + pos, buf, *len);
    return B_OK;
}

int fs_read_attr(void* ns, void* node, const char* name, int, void* buf, size_t* len, off_t pos) {
    std::lock_guard<std::mutex> guard(V(ns)->lock);
    Attribute* attr = find_attribute(N(node), name);
    if (attr == nullptr) return B_ENTRY_NOT_FOUND;
    size_t start = std::min(static_cast<size_t>(pos), attr->value.size());
    *len = std::min(*len, attr->value.size() - start);
    std::memcpy(buf, attr->value.data() + start, *len);
    return B_OK;
}

int fs_remove_attr(void* ns, void* node, const char* name) {
    std::lock_guard<std::mutex> guard(V(ns)->lock);
    auto& attrs = N(node)->attributes;
    for (auto it = attrs.begin(); it != attrs.end(); ++it) {
        if (it->first == name) {
            attrs.erase(it);
            return B_OK;
        }
    }
    return B_ENTRY_NOT_FOUND;
}

int fs_stat_attr(void* ns, void* node, const char* name, attr_info* info) {
    std::lock_guard<std::mutex> guard(V(ns)->lock);
    Attribute* attr = find_attribute(N(node), name);
    if (attr == nullptr) return B_ENTRY_NOT_FOUND;
    info->type = attr->type;
    info->size = static_cast<int64>(attr->value.size());
    return B_OK;
}

vnode_ops make_operations() {
    vnode_ops ops{};
    ops.read_vnode = fs_read_vnode;
    ops.write_vnode = fs_write_vnode;
    ops.remove_vnode = fs_remove_vnode;
    ops.walk = fs_walk;
    ops.access = fs_access;
    ops.create = fs_create;
    ops.mkdir = fs_mkdir;
    ops.rename = fs_rename;
    ops.unlink = fs_unlink;
    ops.rmdir = fs_rmdir;
    ops.opendir = fs_opendir;
    ops.closedir = fs_closedir;
    ops.free_dircookie = fs_free_dircookie;
    ops.rewinddir = fs_rewinddir;
    ops.readdir = fs_readdir;
    ops.open = fs_open;
    ops.close = fs_close;
    ops.free_cookie = fs_free_cookie;
    ops.read = fs_read;
    ops.write = fs_write;
    ops.rstat = fs_rstat;
    ops.wstat = fs_wstat;
    ops.mount = fs_mount;
    ops.unmount = fs_unmount;
    ops.rfsstat = fs_rfsstat;
    ops.open_attrdir = fs_open_attrdir;
    ops.close_attrdir = fs_closedir;
    ops.free_attrdircookie = fs_free_dircookie;
    ops.rewind_attrdir = fs_rewind_attrdir;
    ops.read_attrdir = fs_read_attrdir;
    ops.write_attr = fs_write_attr;
    ops.read_attr = fs_read_attr;
    ops.remove_attr = fs_remove_attr;
    ops.stat_attr = fs_stat_attr;
    return ops;
}

}  // namespace

const vnode_ops* operations() {
    static const vnode_ops ops = make_operations();
    return &ops;
}

void set_capacity(int64 bytes) { capacity_for_new_volumes = bytes; }

}  // namespace memfs
