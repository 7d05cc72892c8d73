// The vnode cache: references, the unused list and its limit, removal at the last reference,
// and the reenter flag.
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "KernelTest.h"

using kerneltest::ExpectBalanced;
using kerneltest::MemVolume;
using kerneltest::UnmountBalanced;

TEST(VnodeCache, EachLookupAfterEvictionReadsInAndWritesOutOnce) {
    kernel_set_unused_vnode_limit(0);
    MemVolume vol("/cache/evict");
    const vnode_id a = vol.NewFile("a");
    ASSERT_GT(a, 0);
    EXPECT_EQ(-1, kernel_vnode_refcount(vol.nsid(), a)) << "limit 0 keeps nothing unused";

    for (int i = 0; i < 3; i++) {
        vnode_id found = 0;
        ASSERT_EQ(B_OK, vfs_lookup(vol.nsid(), vol.root(), "a", &found));
        EXPECT_EQ(a, found);
        EXPECT_EQ(1, kernel_vnode_refcount(vol.nsid(), a));
        ASSERT_EQ(B_OK, vfs_get(vol.nsid(), a));
        EXPECT_EQ(2, kernel_vnode_refcount(vol.nsid(), a));
        ASSERT_EQ(B_OK, vfs_put(vol.nsid(), a));
        EXPECT_EQ(1 + i, vol.Report().nodes[a].writes) << "no write while referenced";
        ASSERT_EQ(B_OK, vfs_put(vol.nsid(), a));
        EXPECT_EQ(-1, kernel_vnode_refcount(vol.nsid(), a));
    }
    memfs::NodeCounts counts = vol.Report().nodes[a];
    EXPECT_EQ(4, counts.loads);  // created, then read in by each of three lookups
    EXPECT_EQ(4, counts.writes);
    EXPECT_EQ(1, kernel_cached_vnodes(vol.nsid())) << "only the root";
    UnmountBalanced(vol);
}

TEST(VnodeCache, UnusedNodesStayUpToTheLimitOldestGoesFirst) {
    kernel_set_unused_vnode_limit(2);
    MemVolume vol("/cache/lru");
    for (const char* name : {"a", "b", "c"}) vol.MakeFile(name);
    const vnode_id a = vol.Id("a"), b = vol.Id("b"), c = vol.Id("c");
    // Created in order a, b, c: a is the oldest unused node and went when c came.
    EXPECT_EQ(-1, kernel_vnode_refcount(vol.nsid(), a));
    EXPECT_EQ(0, kernel_vnode_refcount(vol.nsid(), b));
    EXPECT_EQ(0, kernel_vnode_refcount(vol.nsid(), c));

    // Using b again makes it the most recent: the next newcomer pushes c out, not b.
    vnode_id found = 0;
    ASSERT_EQ(B_OK, vfs_lookup(vol.nsid(), vol.root(), "b", &found));
    ASSERT_EQ(B_OK, vfs_put(vol.nsid(), b));
    ASSERT_EQ(B_OK, vfs_lookup(vol.nsid(), vol.root(), "a", &found));
    ASSERT_EQ(B_OK, vfs_put(vol.nsid(), a));
    EXPECT_EQ(-1, kernel_vnode_refcount(vol.nsid(), c));
    EXPECT_EQ(0, kernel_vnode_refcount(vol.nsid(), b));
    EXPECT_EQ(1, vol.Report().nodes[b].loads) << "b was served from the cache";

    // A referenced node is never written out, whatever the limit.
    ASSERT_EQ(B_OK, vfs_lookup(vol.nsid(), vol.root(), "b", &found));
    kernel_set_unused_vnode_limit(0);
    EXPECT_EQ(-1, kernel_vnode_refcount(vol.nsid(), a));
    EXPECT_EQ(1, kernel_vnode_refcount(vol.nsid(), b));
    EXPECT_EQ(0, vol.Report().nodes[b].writes);
    ASSERT_EQ(B_OK, vfs_put(vol.nsid(), b));
    EXPECT_EQ(1, vol.Report().nodes[b].writes);
    UnmountBalanced(vol);
}

TEST(VnodeCache, UnmountWritesOutEveryUnusedNodeOnce) {
    kernel_set_unused_vnode_limit(100);
    MemVolume vol("/cache/unmount");
    ASSERT_EQ(B_OK, sys_mkdir(vol.Path("d").c_str(), 0755));
    for (const char* name : {"d/x", "d/y", "z"}) vol.MakeFile(name);
    EXPECT_EQ(5, kernel_cached_vnodes(vol.nsid()));  // root, d, x, y, z
    ASSERT_EQ(B_OK, vol.Unmount());
    memfs::Report report = vol.Report();
    EXPECT_TRUE(report.unmounted);
    EXPECT_EQ(5u, report.nodes.size());
    for (const auto& [id, counts] : report.nodes) EXPECT_EQ(1, counts.writes) << id;
    ExpectBalanced(report);
}

TEST(VnodeCache, RemovedNodeGoesAtItsLastReferenceAndOpenFileKeepsWorking) {
    kernel_set_unused_vnode_limit(10);
    MemVolume vol("/cache/remove");
    vol.MakeFile("f", "still here");
    const vnode_id f = vol.Id("f");
    int fd = sys_open(vol.Path("f").c_str(), B_O_RDONLY, 0);
    ASSERT_GE(fd, 0);

    ASSERT_EQ(B_OK, sys_unlink(vol.Path("f").c_str()));
    be_stat st{};
    EXPECT_EQ(B_ENTRY_NOT_FOUND, sys_stat(vol.Path("f").c_str(), &st));
    char buf[32] = {};
    EXPECT_EQ(10, sys_read(fd, 0, buf, sizeof(buf)));
    EXPECT_STREQ("still here", buf);
    EXPECT_EQ(0, vol.Report().nodes[f].removes) << "the open file holds the node";

    ASSERT_EQ(B_OK, sys_close(fd));
    memfs::NodeCounts counts = vol.Report().nodes[f];
    EXPECT_EQ(1, counts.removes);
    EXPECT_EQ(0, counts.writes) << "a removed node is removed, not written";
    EXPECT_EQ(-1, kernel_vnode_refcount(vol.nsid(), f));
    UnmountBalanced(vol);
}

TEST(VnodeCache, UnlinkOfAnUnusedNodeRemovesItAtOnce) {
    kernel_set_unused_vnode_limit(10);
    MemVolume vol("/cache/remove-unused");
    const vnode_id f = vol.NewFile("f");
    EXPECT_EQ(0, kernel_vnode_refcount(vol.nsid(), f));
    ASSERT_EQ(B_OK, sys_unlink(vol.Path("f").c_str()));
    EXPECT_EQ(1, vol.Report().nodes[f].removes);
    EXPECT_EQ(-1, kernel_vnode_refcount(vol.nsid(), f));
    UnmountBalanced(vol);
}

TEST(VnodeCache, ReenterIsSetExactlyWhenTheAddOnCausedTheCall) {
    kernel_set_unused_vnode_limit(0);
    MemVolume vol("/cache/reenter");
    const vnode_id f = vol.NewFile("f");
    const int before = vol.Report().reenteredCalls;

    // From inside the file system: read_vnode and write_vnode are re-entered.
    ASSERT_EQ(B_OK, memfs::GetFromAddOn(vol.nsid(), f));
    ASSERT_EQ(B_OK, memfs::PutFromAddOn(vol.nsid(), f));
    EXPECT_EQ(before + 2, vol.Report().reenteredCalls);

    // From the kernel's own callers: not re-entered.
    ASSERT_EQ(B_OK, vfs_get(vol.nsid(), f));
    ASSERT_EQ(B_OK, vfs_put(vol.nsid(), f));
    EXPECT_EQ(before + 2, vol.Report().reenteredCalls);

    // unlink gives the last reference back from inside the add-on: remove_vnode re-entered.
    ASSERT_EQ(B_OK, sys_unlink(vol.Path("f").c_str()));
    EXPECT_EQ(before + 4, vol.Report().reenteredCalls);  // read in by unlink, then removed
    // memfs flags a wrong reenter flag as a violation.
    UnmountBalanced(vol);
}

TEST(VnodeCache, ReferencesNobodyHoldsAreRefused) {
    kernel_set_unused_vnode_limit(10);
    MemVolume vol("/cache/underflow");
    const vnode_id f = vol.NewFile("f");
    EXPECT_EQ(B_BAD_VALUE, vfs_put(vol.nsid(), f)) << "cached but unused";
    EXPECT_EQ(0, kernel_vnode_refcount(vol.nsid(), f));
    EXPECT_EQ(B_BAD_VALUE, vfs_put(vol.nsid(), 9999)) << "not cached";
    EXPECT_EQ(B_ENTRY_NOT_FOUND, vfs_get(vol.nsid(), 9999)) << "read_vnode's answer";
    EXPECT_EQ(B_BAD_VALUE, new_vnode(vol.nsid(), vol.root(), nullptr)) << "already published";
    EXPECT_EQ(B_BAD_VALUE, vfs_get(12345, 1)) << "no such volume";
    EXPECT_EQ(1, kernel_vnode_refcount(vol.nsid(), vol.root()));
    UnmountBalanced(vol);
}

namespace {

// A file system whose write_vnode stalls until someone else publishes the same id, as an
// add-on that names nodes by their record's address does when a freed record is reused.
struct ReuseFs {
    static inline std::atomic<bool> publishing{false};
    static inline std::atomic<int> writes{0};
    static inline int root, node;

    static int Mount(nspace_id nsid, const char*, unsigned long, void*, size_t, void** ns,
                     vnode_id* rootId) {
        *ns = &root;
        *rootId = 1;
        return new_vnode(nsid, 1, &root);
    }
    static int Read(void*, vnode_id, char, void** out) {
        *out = &node;
        return B_OK;
    }
    static int Write(void*, void* n, char) {
        if (n == &node && writes++ == 0) {
            while (!publishing.load()) std::this_thread::yield();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return B_OK;
    }
};

}  // namespace

TEST(VnodeCache, PublishingAnIdBeingWrittenOutWaitsForItToGo) {
    kernel_set_unused_vnode_limit(0);
    vnode_ops ops{};
    ops.mount = ReuseFs::Mount;
    ops.read_vnode = ReuseFs::Read;
    ops.write_vnode = ReuseFs::Write;
    ASSERT_EQ(B_OK, kernel_register_fs("reusefs", &ops, B_CURRENT_FS_API_VERSION));
    ASSERT_EQ(B_OK, mount("reusefs", "/reuse", nullptr, 0, nullptr, 0));
    nspace_id ns = 0;
    ASSERT_EQ(B_OK, kernel_volume_at("/reuse", &ns, nullptr));
    ASSERT_EQ(B_OK, vfs_get(ns, 2));

    std::thread releaser([&] { EXPECT_EQ(B_OK, vfs_put(ns, 2)); });
    while (kernel_vnode_refcount(ns, 2) != 0) std::this_thread::yield();  // writing out
    status_t published = B_ERROR;
    std::thread publisher([&] {
        ReuseFs::publishing = true;
        published = new_vnode(ns, 2, &ReuseFs::node);
    });
    releaser.join();
    publisher.join();
    EXPECT_EQ(B_OK, published);
    EXPECT_EQ(1, kernel_vnode_refcount(ns, 2));
    ASSERT_EQ(B_OK, vfs_put(ns, 2));
    EXPECT_EQ(2, ReuseFs::writes.load());
    EXPECT_EQ(B_OK, unmount("/reuse"));
}
