#include "NodeTable.h"

#include <cassert>
#include <cstdio>

namespace fusebridge {

NodeTable::NodeTable(vnode_id root) : root_(root) {}

NodeTable::Lookup NodeTable::add_lookup(vnode_id vnid) {
    if (vnid == root_) return {kRootIno, true};
    std::lock_guard<std::mutex> guard(lock_);
    auto found = by_vnid_.find(vnid);
    if (found != by_vnid_.end()) {
        nodes_[found->second].nlookup++;
        return {found->second, false};
    }
    Ino ino = next_ino_++;
    nodes_.emplace(ino, Node{vnid, 1, false});
    by_vnid_.emplace(vnid, ino);
    return {ino, false};
}

bool NodeTable::resolve(Ino ino, vnode_id* vnid) const {
    if (ino == kRootIno) {
        *vnid = root_;
        return true;
    }
    std::lock_guard<std::mutex> guard(lock_);
    auto found = nodes_.find(ino);
    if (found == nodes_.end() || found->second.detached) return false;
    *vnid = found->second.vnid;
    return true;
}

uint64_t NodeTable::forget(Ino ino, uint64_t count, vnode_id* vnid) {
    if (ino == kRootIno) return 0;
    std::lock_guard<std::mutex> guard(lock_);
    auto found = nodes_.find(ino);
    if (found == nodes_.end()) {
        std::fprintf(stderr, "fuse: forget of unknown inode %llu\n",
                     static_cast<unsigned long long>(ino));
        assert(!"forget of an unknown inode");
        return 0;
    }
    Node& node = found->second;
    if (count > node.nlookup) {
        std::fprintf(stderr, "fuse: forget of %llu lookups, %llu known\n",
                     static_cast<unsigned long long>(count),
                     static_cast<unsigned long long>(node.nlookup));
        assert(!"lookup count underflow");
        count = node.nlookup;
    }
    node.nlookup -= count;
    *vnid = node.vnid;
    uint64_t give_back = node.detached ? 0 : count;
    if (node.nlookup == 0) {
        if (!node.detached) by_vnid_.erase(node.vnid);
        nodes_.erase(found);
    }
    return give_back;
}

uint64_t NodeTable::detach(vnode_id vnid) {
    std::lock_guard<std::mutex> guard(lock_);
    auto found = by_vnid_.find(vnid);
    if (found == by_vnid_.end()) return 0;
    Node& node = nodes_[found->second];
    by_vnid_.erase(found);
    node.detached = true;
    return node.nlookup;
}

std::vector<std::pair<vnode_id, uint64_t>> NodeTable::release_all() {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::pair<vnode_id, uint64_t>> held;
    for (const auto& [ino, node] : nodes_) {
        if (!node.detached && node.nlookup > 0) held.emplace_back(node.vnid, node.nlookup);
    }
    nodes_.clear();
    by_vnid_.clear();
    return held;
}

size_t NodeTable::size() const {
    std::lock_guard<std::mutex> guard(lock_);
    return nodes_.size();
}

uint64_t NodeTable::held_references() const {
    std::lock_guard<std::mutex> guard(lock_);
    uint64_t held = 0;
    for (const auto& [ino, node] : nodes_) {
        if (!node.detached) held += node.nlookup;
    }
    return held;
}

}  // namespace fusebridge
