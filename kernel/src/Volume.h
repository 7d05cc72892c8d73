// One mounted volume: its add-on, the add-on's volume record and its vnode cache.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "FileSystems.h"
#include "kernel/fs_interface.h"

namespace kernel {

enum class VolumeState { mounting, mounted, unmounting, gone };

class Volume {
public:
    Volume(nspace_id id, std::string where, std::shared_ptr<const FileSystem> fs);
    Volume(const Volume&) = delete;
    Volume& operator=(const Volume&) = delete;

    nspace_id Id() const { return id_; }
    const std::string& Where() const { return where_; }
    const vnode_ops& Ops() const { return fs_->ops; }
    const FileSystem& Fs() const { return *fs_; }
    // The add-on's volume record; set once the mount slot has returned.
    void* Cookie() const;
    vnode_id Root() const;
    bool IsMounted() const;

    // Reference counting. `reenter` is passed on to the add-on's read_vnode, write_vnode and
    // remove_vnode: true when the add-on itself made the call.
    [[nodiscard]] status_t Get(vnode_id vnid, void** node, bool reenter);
    status_t Put(vnode_id vnid, bool reenter);
    [[nodiscard]] status_t Publish(vnode_id vnid, void* node);
    status_t SetRemoved(vnode_id vnid, bool removed, bool reenter);
    // The node record of a cached node, without taking a reference (the caller holds one).
    [[nodiscard]] bool Peek(vnode_id vnid, void** node);
    // A reference on the root, for walks that start at the mount point; refused unless the
    // volume is mounted.
    [[nodiscard]] status_t GetRoot(void** node);

    int32 RefCount(vnode_id vnid);
    int32 CachedCount();
    // Releases unused nodes beyond the limit (write_vnode, not re-entered).
    void Trim();

    void DescriptorOpened();
    void DescriptorClosed();

    // Mount and unmount steps, driven by the mount table.
    // After the mount slot: keeps the root referenced and opens the volume to walks.
    [[nodiscard]] status_t FinishMount(void* cookie, vnode_id root);
    // A failed mount: forgets whatever the add-on published, without calling it.
    void AbandonMount();
    // Refuses with B_BUSY while anything but the kernel's root reference is held; otherwise
    // closes the volume to new references.
    [[nodiscard]] status_t BeginUnmount();
    // Releases every cached node (write_vnode, or remove_vnode for removed ones), newest
    // first so that children go before their directories, then calls the unmount slot.
    status_t FinishUnmount();

private:
    enum class NodeState { loading, live, releasing };
    struct Vnode {
        vnode_id id = 0;
        void* node = nullptr;
        int32 refs = 0;
        bool removed = false;
        NodeState state = NodeState::loading;
        uint64_t sequence = 0;  // order of arrival in the cache
        bool unused = false;
        std::list<Vnode*>::iterator lruPosition;
    };

    Vnode* FindLocked(vnode_id vnid);
    Vnode& InsertLocked(vnode_id vnid, NodeState state);
    void MarkUnusedLocked(Vnode& v);
    void MarkUsedLocked(Vnode& v);
    // Calls the add-on to release `v`, which the caller has set to releasing, with the lock
    // dropped for the call; erases it afterwards.
    void ReleaseLocked(std::unique_lock<std::mutex>& lock, Vnode& v, bool reenter);
    void TrimLocked(std::unique_lock<std::mutex>& lock);

    const nspace_id id_;
    const std::string where_;
    const std::shared_ptr<const FileSystem> fs_;

    // Guards everything below. Never held while the add-on is called: the add-on calls back
    // (get_vnode, put_vnode, new_vnode) from inside its operations.
    mutable std::mutex lock_;
    std::condition_variable settled_;  // a node left the loading or releasing state
    VolumeState state_ = VolumeState::mounting;
    void* cookie_ = nullptr;
    vnode_id root_ = 0;
    std::unordered_map<vnode_id, std::unique_ptr<Vnode>> vnodes_;
    std::list<Vnode*> unused_;  // least recently used first
    uint64_t nextSequence_ = 1;
    int32 descriptors_ = 0;
};

// How many unused nodes a volume keeps cached.
int32 UnusedVnodeLimit();
void SetUnusedVnodeLimit(int32 limit);

}  // namespace kernel
