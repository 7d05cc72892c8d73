// The nodes one FUSE mount has handed to the Linux kernel, with their lookup counts.
//
// Every lookup the Linux kernel is told about holds one reference on the volume's node, and
// every forget gives references back, so that the volume's counts and FUSE's agree. The root
// is pinned by the mount itself and never counted. A node taken out of the namespace (unlink,
// rmdir, replaced by a rename) gives its references back at once so the volume can delete it;
// it stays in the table, "detached", until the Linux kernel forgets it.
#pragma once

#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "kernel/fs_interface.h"

namespace fusebridge {

using Ino = uint64_t;
inline constexpr Ino kRootIno = 1;  // FUSE_ROOT_ID

class NodeTable {
public:
    explicit NodeTable(vnode_id root);

    struct Lookup {
        Ino ino = 0;
        // The root is pinned: the reference a lookup took on it is not kept.
        bool give_back = false;
    };
    // Counts one lookup whose kernel reference on `vnid` the caller holds.
    [[nodiscard]] Lookup add_lookup(vnode_id vnid);

    // The node behind an inode number; false for an unknown or detached node.
    [[nodiscard]] bool resolve(Ino ino, vnode_id* vnid) const;

    // Forgets `count` lookups; returns the references to give back on *vnid.
    [[nodiscard]] uint64_t forget(Ino ino, uint64_t count, vnode_id* vnid);

    // Detaches the node: returns the references to give back now.
    [[nodiscard]] uint64_t detach(vnode_id vnid);

    // Empties the table: every reference still held, by node.
    [[nodiscard]] std::vector<std::pair<vnode_id, uint64_t>> release_all();

    [[nodiscard]] size_t size() const;
    [[nodiscard]] uint64_t held_references() const;
    vnode_id root() const { return root_; }

private:
    struct Node {
        vnode_id vnid;
        uint64_t nlookup;
        bool detached;
    };

    const vnode_id root_;
    mutable std::mutex lock_;  // guards everything below
    Ino next_ino_ = kRootIno + 1;
    std::unordered_map<Ino, Node> nodes_;
    std::unordered_map<vnode_id, Ino> by_vnid_;  // attached nodes only
};

}  // namespace fusebridge
