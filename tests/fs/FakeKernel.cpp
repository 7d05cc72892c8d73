#include "FakeKernel.h"

#include <map>
#include <mutex>

#include "tavro.h"

namespace {

struct Cached {
    void* node;
    int32 refs;
    bool removed;
};

std::mutex lock;
std::map<vnode_id, Cached> cache;
std::vector<fake_kernel::Notice> notices;
void* volumeRecord = nullptr;
bool evictAtOnce = false;

}  // namespace

namespace fake_kernel {

void Reset(nspace_id, bool evict_at_once) {
    std::lock_guard<std::mutex> hold(lock);
    cache.clear();
    notices.clear();
    evictAtOnce = evict_at_once;
    volumeRecord = nullptr;
}

void SetVolume(void* ns) {
    std::lock_guard<std::mutex> hold(lock);
    volumeRecord = ns;
}

std::vector<Notice> Notices() {
    std::lock_guard<std::mutex> hold(lock);
    return notices;
}

void ClearNotices() {
    std::lock_guard<std::mutex> hold(lock);
    notices.clear();
}

int32 Refs(vnode_id id) {
    std::lock_guard<std::mutex> hold(lock);
    auto found = cache.find(id);
    return found == cache.end() ? -1 : found->second.refs;
}

void ReleaseAll() {
    std::map<vnode_id, Cached> all;
    void* ns;
    {
        std::lock_guard<std::mutex> hold(lock);
        all.swap(cache);
        ns = volumeRecord;
    }
    for (auto& [id, entry] : all) {
        if (entry.removed)
            (void)fs_remove_vnode(ns, entry.node, 0);
        else
            (void)fs_write_vnode(ns, entry.node, 0);
    }
}

}  // namespace fake_kernel

// A node marked to be removed when its last reference goes, or no longer.
static int mark_removed(vnode_id vnid, bool removed) {
    std::lock_guard<std::mutex> hold(lock);
    auto found = cache.find(vnid);
    if (found == cache.end()) return B_BAD_VALUE;
    found->second.removed = removed;
    return B_OK;
}

extern "C" {

int new_vnode(nspace_id, vnode_id vnid, void* node) {
    std::lock_guard<std::mutex> hold(lock);
    if (cache.count(vnid) != 0) return B_BAD_VALUE;
    cache[vnid] = {node, 1, false};
    return B_OK;
}

int get_vnode(nspace_id, vnode_id vnid, void** node) {
    void* ns;
    {
        std::lock_guard<std::mutex> hold(lock);
        auto found = cache.find(vnid);
        if (found != cache.end()) {
            found->second.refs++;
            *node = found->second.node;
            return B_OK;
        }
        ns = volumeRecord;
    }
    void* read;
    int status = fs_read_vnode(ns, vnid, 0, &read);
    if (status != B_OK) return status;
    std::lock_guard<std::mutex> hold(lock);
    Cached& entry = cache[vnid];
    if (entry.refs == 0) entry = {read, 0, false};
    entry.refs++;
    *node = entry.node;
    return B_OK;
}

int put_vnode(nspace_id, vnode_id vnid) {
    void* ns;
    Cached entry;
    {
        std::lock_guard<std::mutex> hold(lock);
        auto found = cache.find(vnid);
        if (found == cache.end() || found->second.refs <= 0) return B_BAD_VALUE;
        if (--found->second.refs > 0) return B_OK;
        if (!found->second.removed && !evictAtOnce) return B_OK;
        entry = found->second;
        cache.erase(found);
        ns = volumeRecord;
    }
    // Like the kernel, the fake has no one to give the add-on's status to.
    if (entry.removed)
        (void)fs_remove_vnode(ns, entry.node, 0);
    else
        (void)fs_write_vnode(ns, entry.node, 0);
    return B_OK;
}

int remove_vnode(nspace_id, vnode_id vnid) { return mark_removed(vnid, true); }

int unremove_vnode(nspace_id, vnode_id vnid) { return mark_removed(vnid, false); }

int notify_listener(int op, nspace_id, vnode_id a, vnode_id b, vnode_id c, const char* name) {
    std::lock_guard<std::mutex> hold(lock);
    notices.push_back({op, a, b, c, name != nullptr ? name : ""});
    return B_OK;
}

}  // extern "C"
