#include <gtest/gtest.h>

#include "NodeTable.h"

namespace fusebridge {
namespace {

constexpr vnode_id kRoot = 100;

TEST(NodeTable, TheRootIsPinnedAndNeverCounted) {
    NodeTable table(kRoot);
    NodeTable::Lookup lookup = table.add_lookup(kRoot);
    EXPECT_EQ(lookup.ino, kRootIno);
    EXPECT_TRUE(lookup.give_back);
    vnode_id vnid = 0;
    EXPECT_TRUE(table.resolve(kRootIno, &vnid));
    EXPECT_EQ(vnid, kRoot);
    EXPECT_EQ(table.forget(kRootIno, 5, &vnid), 0u);
    EXPECT_EQ(table.held_references(), 0u);
}

TEST(NodeTable, LookupsOfOneNodeShareAnInodeAndForgetsGiveBackWhatWasTaken) {
    NodeTable table(kRoot);
    NodeTable::Lookup first = table.add_lookup(7);
    NodeTable::Lookup second = table.add_lookup(7);
    NodeTable::Lookup other = table.add_lookup(8);
    EXPECT_FALSE(first.give_back);
    EXPECT_EQ(first.ino, second.ino);
    EXPECT_NE(first.ino, other.ino);
    EXPECT_NE(first.ino, kRootIno);
    EXPECT_EQ(table.held_references(), 3u);

    vnode_id vnid = 0;
    EXPECT_EQ(table.forget(first.ino, 1, &vnid), 1u);
    EXPECT_EQ(vnid, 7);
    EXPECT_TRUE(table.resolve(first.ino, &vnid));
    EXPECT_EQ(table.forget(first.ino, 1, &vnid), 1u);
    // Forgotten entirely: the inode number is gone, the next lookup makes a new one.
    EXPECT_FALSE(table.resolve(first.ino, &vnid));
    EXPECT_NE(table.add_lookup(7).ino, first.ino);
}

TEST(NodeTable, DetachedNodesGiveTheirReferencesBackOnceAndStayUntilForgotten) {
    NodeTable table(kRoot);
    Ino ino = table.add_lookup(7).ino;
    (void)table.add_lookup(7);
    EXPECT_EQ(table.detach(7), 2u);
    EXPECT_EQ(table.detach(7), 0u);
    vnode_id vnid = 0;
    EXPECT_FALSE(table.resolve(ino, &vnid));
    EXPECT_EQ(table.held_references(), 0u);
    EXPECT_EQ(table.size(), 1u);

    // The volume may reuse the id for a new node while the old inode is still known.
    Ino fresh = table.add_lookup(7).ino;
    EXPECT_NE(fresh, ino);
    EXPECT_EQ(table.forget(ino, 2, &vnid), 0u);
    EXPECT_EQ(table.size(), 1u);
    EXPECT_TRUE(table.resolve(fresh, &vnid));
    EXPECT_EQ(table.forget(fresh, 1, &vnid), 1u);
    EXPECT_EQ(table.size(), 0u);
}

TEST(NodeTable, ReleaseAllHandsBackEveryAttachedReference) {
    NodeTable table(kRoot);
    (void)table.add_lookup(7);
    (void)table.add_lookup(7);
    (void)table.add_lookup(8);
    (void)table.add_lookup(9);
    (void)table.detach(9);
    auto held = table.release_all();
    uint64_t total = 0;
    for (const auto& [vnid, count] : held) {
        EXPECT_NE(vnid, 9);
        total += count;
    }
    EXPECT_EQ(total, 3u);
    EXPECT_EQ(table.size(), 0u);
    EXPECT_EQ(table.held_references(), 0u);
}

}  // namespace
}  // namespace fusebridge
