#include "Volume.h"

#include <algorithm>
#include <atomic>

namespace kernel {

namespace {
std::atomic<int32> gUnusedLimit{256};
}

int32 UnusedVnodeLimit() { return gUnusedLimit.load(std::memory_order_relaxed); }
void SetUnusedVnodeLimit(int32 limit) { gUnusedLimit.store(std::max<int32>(limit, 0)); }

Volume::Volume(nspace_id id, std::string where, std::shared_ptr<const FileSystem> fs)
    : id_(id), where_(std::move(where)), fs_(std::move(fs)) {}

void* Volume::Cookie() const {
    std::lock_guard<std::mutex> guard(lock_);
    return cookie_;
}

vnode_id Volume::Root() const {
    std::lock_guard<std::mutex> guard(lock_);
    return root_;
}

Volume::Vnode* Volume::FindLocked(vnode_id vnid) {
    auto it = vnodes_.find(vnid);
    return it == vnodes_.end() ? nullptr : it->second.get();
}

Volume::Vnode& Volume::InsertLocked(vnode_id vnid, NodeState state) {
    auto v = std::make_unique<Vnode>();
    v->id = vnid;
    v->state = state;
    v->sequence = nextSequence_++;
    Vnode& ref = *v;
    vnodes_.emplace(vnid, std::move(v));
    return ref;
}

void Volume::MarkUnusedLocked(Vnode& v) {
    v.unused = true;
    v.lruPosition = unused_.insert(unused_.end(), &v);
}

void Volume::MarkUsedLocked(Vnode& v) {
    if (v.unused) {
        unused_.erase(v.lruPosition);
        v.unused = false;
    }
}

status_t Volume::Get(vnode_id vnid, void** node, bool reenter) {
    std::unique_lock<std::mutex> lock(lock_);
    for (;;) {
        if (state_ != VolumeState::mounting && state_ != VolumeState::mounted) return B_NO_INIT;
        Vnode* v = FindLocked(vnid);
        if (v == nullptr) break;
        if (v->state != NodeState::live) {
            // Being read in or written out by another thread: wait for it to settle.
            settled_.wait(lock);
            continue;
        }
        MarkUsedLocked(*v);
        v->refs++;
        if (node != nullptr) *node = v->node;
        return B_OK;
    }
    if (Ops().read_vnode == nullptr) return B_UNSUPPORTED;
    if (state_ != VolumeState::mounted) return B_NO_INIT;  // no volume record yet

    Vnode& v = InsertLocked(vnid, NodeState::loading);
    void* cookie = cookie_;
    lock.unlock();
    void* loaded = nullptr;
    status_t status = Ops().read_vnode(cookie, vnid, reenter, &loaded);
    lock.lock();
    if (status != B_OK) {
        vnodes_.erase(vnid);
    } else {
        v.node = loaded;
        v.refs = 1;
        v.state = NodeState::live;
        if (node != nullptr) *node = loaded;
    }
    settled_.notify_all();
    return status;
}

void Volume::ReleaseLocked(std::unique_lock<std::mutex>& lock, Vnode& v, bool reenter) {
    MarkUsedLocked(v);
    v.state = NodeState::releasing;
    const vnode_id vnid = v.id;
    void* node = v.node;
    const bool removed = v.removed;
    void* cookie = cookie_;
    lock.unlock();
    if (removed) {
        if (Ops().remove_vnode != nullptr) Ops().remove_vnode(cookie, node, reenter);
    } else {
        if (Ops().write_vnode != nullptr) Ops().write_vnode(cookie, node, reenter);
    }
    lock.lock();
    vnodes_.erase(vnid);
    settled_.notify_all();
}

void Volume::TrimLocked(std::unique_lock<std::mutex>& lock) {
    while (!unused_.empty() && unused_.size() > static_cast<size_t>(UnusedVnodeLimit())) {
        ReleaseLocked(lock, *unused_.front(), false);
    }
}

status_t Volume::Put(vnode_id vnid, bool reenter) {
    std::unique_lock<std::mutex> lock(lock_);
    Vnode* v = FindLocked(vnid);
    // Giving back a reference nobody holds is a caller's fault; refuse rather than corrupt
    // the count.
    if (v == nullptr || v->state != NodeState::live || v->refs <= 0) return B_BAD_VALUE;
    if (--v->refs > 0) return B_OK;
    if (v->removed) {
        ReleaseLocked(lock, *v, reenter);
        return B_OK;
    }
    if (state_ != VolumeState::mounted && state_ != VolumeState::mounting) return B_OK;
    MarkUnusedLocked(*v);
    if (reenter) {
        // The add-on is inside one of its own operations and may hold its locks: release only
        // the node it let go of (when nothing may stay cached), and leave trimming the others
        // to the kernel's next release.
        if (UnusedVnodeLimit() == 0) ReleaseLocked(lock, *v, true);
    } else {
        TrimLocked(lock);
    }
    return B_OK;
}

void Volume::Trim() {
    std::unique_lock<std::mutex> lock(lock_);
    if (state_ == VolumeState::mounted) TrimLocked(lock);
}

status_t Volume::Publish(vnode_id vnid, void* node) {
    std::unique_lock<std::mutex> lock(lock_);
    for (;;) {
        if (state_ != VolumeState::mounting && state_ != VolumeState::mounted) return B_NO_INIT;
        Vnode* existing = FindLocked(vnid);
        if (existing == nullptr) break;
        // An add-on that names nodes by their record's address may reuse the id of a node
        // whose write_vnode has freed the record but not yet returned: wait for it to go.
        if (existing->state != NodeState::releasing) return B_BAD_VALUE;
        settled_.wait(lock);
    }
    Vnode& v = InsertLocked(vnid, NodeState::live);
    v.node = node;
    v.refs = 1;
    return B_OK;
}

status_t Volume::SetRemoved(vnode_id vnid, bool removed, bool reenter) {
    std::unique_lock<std::mutex> lock(lock_);
    Vnode* v = FindLocked(vnid);
    if (v == nullptr || v->state != NodeState::live) return B_ENTRY_NOT_FOUND;
    v->removed = removed;
    // An unused node has no last reference to wait for: it goes now.
    if (removed && v->refs == 0) ReleaseLocked(lock, *v, reenter);
    return B_OK;
}

bool Volume::IsMounted() const {
    std::lock_guard<std::mutex> guard(lock_);
    return state_ == VolumeState::mounted;
}

bool Volume::Peek(vnode_id vnid, void** node) {
    std::lock_guard<std::mutex> guard(lock_);
    Vnode* v = FindLocked(vnid);
    if (v == nullptr || v->state != NodeState::live || v->refs <= 0) return false;
    *node = v->node;
    return true;
}

status_t Volume::GetRoot(void** node) {
    std::unique_lock<std::mutex> lock(lock_);
    if (state_ != VolumeState::mounted) return B_ENTRY_NOT_FOUND;
    Vnode* v = FindLocked(root_);
    if (v == nullptr || v->state != NodeState::live) return B_ENTRY_NOT_FOUND;
    v->refs++;
    *node = v->node;
    return B_OK;
}

int32 Volume::RefCount(vnode_id vnid) {
    std::lock_guard<std::mutex> guard(lock_);
    Vnode* v = FindLocked(vnid);
    return v == nullptr ? -1 : v->refs;
}

int32 Volume::CachedCount() {
    std::lock_guard<std::mutex> guard(lock_);
    return static_cast<int32>(vnodes_.size());
}

void Volume::DescriptorOpened() {
    std::lock_guard<std::mutex> guard(lock_);
    descriptors_++;
}

void Volume::DescriptorClosed() {
    std::lock_guard<std::mutex> guard(lock_);
    descriptors_--;
}

status_t Volume::FinishMount(void* cookie, vnode_id root) {
    std::unique_lock<std::mutex> lock(lock_);
    cookie_ = cookie;
    root_ = root;
    Vnode* v = FindLocked(root);
    if (v != nullptr && v->state == NodeState::live && v->refs > 0) {
        // The add-on published the root while mounting: that reference becomes the kernel's.
        state_ = VolumeState::mounted;
        return B_OK;
    }
    state_ = VolumeState::mounted;
    lock.unlock();
    status_t status = Get(root, nullptr, false);
    if (status != B_OK) {
        lock.lock();
        state_ = VolumeState::mounting;
    }
    return status;
}

void Volume::AbandonMount() {
    std::lock_guard<std::mutex> guard(lock_);
    state_ = VolumeState::gone;
    unused_.clear();
    vnodes_.clear();
    settled_.notify_all();
}

status_t Volume::BeginUnmount() {
    std::lock_guard<std::mutex> guard(lock_);
    if (state_ != VolumeState::mounted) return B_BUSY;
    if (descriptors_ > 0) return B_BUSY;
    for (const auto& [vnid, v] : vnodes_) {
        if (v->state != NodeState::live) return B_BUSY;
        if (v->refs > (vnid == root_ ? 1 : 0)) return B_BUSY;
    }
    state_ = VolumeState::unmounting;
    return B_OK;
}

status_t Volume::FinishUnmount() {
    std::unique_lock<std::mutex> lock(lock_);
    std::vector<Vnode*> order;
    for (auto& [vnid, v] : vnodes_) {
        v->refs = 0;
        order.push_back(v.get());
    }
    std::sort(order.begin(), order.end(),
              [](const Vnode* a, const Vnode* b) { return a->sequence > b->sequence; });
    for (Vnode* v : order) ReleaseLocked(lock, *v, false);
    unused_.clear();
    state_ = VolumeState::gone;
    void* cookie = cookie_;
    lock.unlock();
    return Ops().unmount != nullptr ? Ops().unmount(cookie) : B_OK;
}

}  // namespace kernel
