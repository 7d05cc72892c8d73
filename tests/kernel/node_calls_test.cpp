// The node calls the FUSE bridge uses: references are the caller's to give back.
#include <cstring>

#include "KernelTest.h"

using kerneltest::MemVolume;
using kerneltest::UnmountBalanced;

TEST(NodeCalls, LookupCreateOpenAndTheReferencesTheyHandOut) {
    kernel_set_unused_vnode_limit(0);
    MemVolume vol("/nodes/vol");
    const nspace_id ns = vol.nsid();

    vnode_id f = 0;
    int fd = vfs_create(ns, vol.root(), "f", B_O_RDWR, 0644, &f);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(vol.Id("f"), f);
    EXPECT_EQ(2, kernel_vnode_refcount(ns, f)) << "the caller's and the descriptor's";
    EXPECT_EQ(4, sys_write(fd, 0, "data", 4));
    ASSERT_EQ(B_OK, sys_close(fd));
    EXPECT_EQ(1, kernel_vnode_refcount(ns, f));

    be_stat st{};
    ASSERT_EQ(B_OK, vfs_stat(ns, f, &st));
    EXPECT_EQ(4, st.st_size);
    st.st_size = 2;
    ASSERT_EQ(B_OK, vfs_wstat(ns, f, &st, WSTAT_SIZE));
    int rd = vfs_open(ns, f, B_O_RDONLY);
    ASSERT_GE(rd, 0);
    char buf[8] = {};
    EXPECT_EQ(2, sys_read(rd, 0, buf, sizeof(buf)));
    ASSERT_EQ(B_OK, sys_close(rd));

    vnode_id same = 0, dot = 0, up = 0;
    ASSERT_EQ(B_OK, vfs_lookup(ns, vol.root(), "f", &same));
    EXPECT_EQ(f, same);
    EXPECT_EQ(2, kernel_vnode_refcount(ns, f));
    ASSERT_EQ(B_OK, vfs_lookup(ns, vol.root(), ".", &dot));
    ASSERT_EQ(B_OK, vfs_lookup(ns, vol.root(), "..", &up));
    EXPECT_EQ(vol.root(), dot);
    EXPECT_EQ(vol.root(), up);
    EXPECT_EQ(3, kernel_vnode_refcount(ns, vol.root()));
    EXPECT_EQ(B_BAD_VALUE, vfs_lookup(ns, vol.root(), "a/b", &same)) << "one name, no path";
    EXPECT_EQ(B_BAD_VALUE, vfs_lookup(ns, vol.root(), "", &same));
    EXPECT_EQ(B_ENTRY_NOT_FOUND, vfs_lookup(ns, vol.root(), "g", &same));

    EXPECT_EQ(B_BUSY, vol.Unmount());
    for (vnode_id id : {f, f, dot, up}) ASSERT_EQ(B_OK, vfs_put(ns, id));
    EXPECT_EQ(-1, kernel_vnode_refcount(ns, f));
    EXPECT_EQ(1, kernel_vnode_refcount(ns, vol.root()));
    UnmountBalanced(vol);
}

TEST(NodeCalls, NamespaceChangesAndAttributesByNode) {
    MemVolume vol("/nodes/ns");
    const nspace_id ns = vol.nsid();
    ASSERT_EQ(B_OK, vfs_mkdir(ns, vol.root(), "d", 0755));
    vnode_id d = 0;
    ASSERT_EQ(B_OK, vfs_lookup(ns, vol.root(), "d", &d));
    vnode_id f = 0;
    int fd = vfs_create(ns, d, "f", B_O_RDWR, 0644, &f);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(B_OK, sys_close(fd));

    int list = vfs_opendir(ns, d);
    ASSERT_GE(list, 0);
    be_dirent entry{};
    int entries = 0;
    while (sys_readdir(list, &entry, sizeof(entry)) == 1) entries++;
    EXPECT_EQ(3, entries);
    ASSERT_EQ(B_OK, sys_closedir(list));

    EXPECT_EQ(3, vfs_write_attr(ns, f, "a", B_RAW_TYPE, 0, "xyz", 3));
    char buf[4] = {};
    EXPECT_EQ(3, vfs_read_attr(ns, f, "a", B_RAW_TYPE, 0, buf, sizeof(buf)));
    attr_info info{};
    ASSERT_EQ(B_OK, vfs_stat_attr(ns, f, "a", &info));
    EXPECT_EQ(3, info.size);
    int attrs = vfs_open_attrdir(ns, f);
    ASSERT_GE(attrs, 0);
    ASSERT_EQ(1, sys_read_attrdir(attrs, &entry, sizeof(entry)));
    EXPECT_STREQ("a", entry.d_name);
    ASSERT_EQ(B_OK, sys_close_attrdir(attrs));
    ASSERT_EQ(B_OK, vfs_remove_attr(ns, f, "a"));

    ASSERT_EQ(B_OK, vfs_rename(ns, d, "f", vol.root(), "g"));
    vnode_id g = 0;
    ASSERT_EQ(B_OK, vfs_lookup(ns, vol.root(), "g", &g));
    EXPECT_EQ(f, g);
    ASSERT_EQ(B_OK, vfs_unlink(ns, vol.root(), "g"));
    EXPECT_EQ(0, vol.Report().nodes[f].removes) << "still referenced by the caller";
    ASSERT_EQ(B_OK, vfs_put(ns, g));
    ASSERT_EQ(B_OK, vfs_put(ns, f));
    EXPECT_EQ(1, vol.Report().nodes[f].removes);
    ASSERT_EQ(B_OK, vfs_put(ns, d));
    ASSERT_EQ(B_OK, vfs_rmdir(ns, vol.root(), "d"));

    fs_info fi{};
    ASSERT_EQ(B_OK, vfs_rfsstat(ns, &fi));
    EXPECT_EQ(ns, fi.dev);
    EXPECT_EQ(B_BAD_VALUE, vfs_rfsstat(9999, &fi));
    UnmountBalanced(vol);
}
