// System calls over paths: the walk, files, directories, attributes and statuses.
#include <cstring>
#include <set>

#include "KernelTest.h"

using kerneltest::ExpectBalanced;
using kerneltest::MemVolume;
using kerneltest::UnmountBalanced;

namespace {

vnode_id InodeOf(const std::string& path) {
    be_stat st{};
    status_t status = sys_stat(path.c_str(), &st);
    return status == B_OK ? st.st_ino : status;
}

std::set<std::string> List(const std::string& path) {
    std::set<std::string> names;
    int fd = sys_opendir(path.c_str());
    EXPECT_GE(fd, 0);
    be_dirent entry{};
    while (sys_readdir(fd, &entry, sizeof(entry)) == 1) names.insert(entry.d_name);
    EXPECT_EQ(B_OK, sys_closedir(fd));
    return names;
}

}  // namespace

TEST(Paths, DotAndDotDotWalkWithinTheVolume) {
    kernel_set_unused_vnode_limit(0);
    MemVolume vol("/paths/dots");
    ASSERT_EQ(B_OK, sys_mkdir(vol.Path("a").c_str(), 0755));
    ASSERT_EQ(B_OK, sys_mkdir(vol.Path("a/b").c_str(), 0755));
    vol.MakeFile("a/b/f");

    EXPECT_EQ(vol.Id("a/b/f"), InodeOf(vol.Path("a/./b/../b/f")));
    EXPECT_EQ(vol.Id("a"), InodeOf(vol.Path("a/b/..")));
    EXPECT_EQ(vol.root(), InodeOf(vol.Path("a/b/../..")));
    EXPECT_EQ(vol.root(), InodeOf(vol.Path(".")));
    // ".." at the volume's root stays in the volume.
    EXPECT_EQ(vol.root(), InodeOf(vol.Path("..")));
    EXPECT_EQ(vol.Id("a"), InodeOf(vol.Path("../../a")));
    EXPECT_EQ(vol.Id("a/b"), InodeOf("/paths/./dots//a/b/"));

    EXPECT_EQ(B_ENTRY_NOT_FOUND, InodeOf(vol.Path("a/missing/..")));
    EXPECT_EQ(B_NOT_A_DIRECTORY, InodeOf(vol.Path("a/b/f/x")));
    EXPECT_EQ(1, kernel_vnode_refcount(vol.nsid(), vol.root())) << "walks gave back their refs";
    EXPECT_EQ(1, kernel_cached_vnodes(vol.nsid()));
    UnmountBalanced(vol);
}

TEST(Paths, LongestMountPointOnWholeComponentsWins) {
    MemVolume outer("/nest/x");
    MemVolume inner("/nest/x/y");
    outer.MakeFile("f");
    inner.MakeFile("f");
    be_stat st{};
    ASSERT_EQ(B_OK, sys_stat("/nest/x/f", &st));
    EXPECT_EQ(outer.nsid(), st.st_dev);
    ASSERT_EQ(B_OK, sys_stat("/nest/x/y/f", &st));
    EXPECT_EQ(inner.nsid(), st.st_dev);
    EXPECT_EQ(B_ENTRY_NOT_FOUND, sys_stat("/nest/xy/f", &st)) << "not a prefix on components";
    EXPECT_EQ(B_ENTRY_NOT_FOUND, sys_stat("/nest", &st)) << "outside every volume";
    EXPECT_EQ(B_BAD_VALUE, sys_stat("nest/x/f", &st)) << "relative";
    std::string longName(B_FILE_NAME_LENGTH, 'n');
    EXPECT_EQ(B_NAME_TOO_LONG, sys_stat(("/nest/x/" + longName).c_str(), &st));
    EXPECT_EQ(B_CROSS_DEVICE_LINK, sys_rename("/nest/x/f", "/nest/x/y/g"));
}

TEST(Paths, FilesReadAndWriteAtPositions) {
    MemVolume vol("/paths/files");
    int fd = sys_open(vol.Path("f").c_str(), B_O_RDWR | B_O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(5, sys_write(fd, 0, "hello", 5));
    EXPECT_EQ(5, sys_write(fd, 10, "world", 5));
    char buf[32] = {};
    EXPECT_EQ(15, sys_read(fd, 0, buf, sizeof(buf)));
    EXPECT_EQ(0, std::memcmp(buf, "hello\0\0\0\0\0world", 15));
    EXPECT_EQ(3, sys_read(fd, 12, buf, 3));
    EXPECT_EQ(0, std::memcmp(buf, "rld", 3));
    EXPECT_EQ(0, sys_read(fd, 100, buf, sizeof(buf)));
    EXPECT_EQ(B_BAD_VALUE, sys_read(fd, -1, buf, sizeof(buf)));
    be_stat st{};
    ASSERT_EQ(B_OK, sys_fstat(fd, &st));
    EXPECT_EQ(15, st.st_size);
    EXPECT_EQ(vol.Id("f"), st.st_ino);
    EXPECT_EQ(vol.nsid(), st.st_dev);
    ASSERT_EQ(B_OK, sys_close(fd));
    EXPECT_EQ(B_FILE_ERROR, sys_close(fd));
    EXPECT_EQ(B_FILE_ERROR, sys_read(fd, 0, buf, 1));

    EXPECT_EQ(B_FILE_EXISTS, sys_open(vol.Path("f").c_str(), B_O_RDWR | B_O_CREAT | B_O_EXCL, 0));
    int ro = sys_open(vol.Path("f").c_str(), B_O_RDONLY, 0);
    ASSERT_GE(ro, 0);
    EXPECT_EQ(B_FILE_ERROR, sys_write(ro, 0, "x", 1));
    ASSERT_EQ(B_OK, sys_close(ro));
    int wo = sys_open(vol.Path("f").c_str(), B_O_WRONLY | B_O_TRUNC, 0);
    ASSERT_GE(wo, 0);
    EXPECT_EQ(B_FILE_ERROR, sys_read(wo, 0, buf, 1));
    ASSERT_EQ(B_OK, sys_close(wo));
    ASSERT_EQ(B_OK, sys_stat(vol.Path("f").c_str(), &st));
    EXPECT_EQ(0, st.st_size) << "O_TRUNC reached the add-on";

    // O_CREAT on an existing name opens it.
    int again = sys_open(vol.Path("f").c_str(), B_O_WRONLY | B_O_CREAT, 0);
    ASSERT_GE(again, 0);
    ASSERT_EQ(B_OK, sys_close(again));
    EXPECT_EQ(B_ENTRY_NOT_FOUND, sys_open(vol.Path("nope/f").c_str(), B_O_RDWR | B_O_CREAT, 0));
}

TEST(Paths, DirectoriesListCreateRenameAndRemove) {
    MemVolume vol("/paths/dirs");
    ASSERT_EQ(B_OK, sys_mkdir(vol.Path("d").c_str(), 0755));
    EXPECT_EQ(B_FILE_EXISTS, sys_mkdir(vol.Path("d").c_str(), 0755));
    EXPECT_EQ(B_FILE_EXISTS, sys_mkdir(vol.Path("").c_str(), 0755));
    vol.MakeFile("d/one");
    vol.MakeFile("d/two");
    EXPECT_EQ((std::set<std::string>{".", "..", "one", "two"}), List(vol.Path("d")));

    int fd = sys_opendir(vol.Path("d").c_str());
    ASSERT_GE(fd, 0);
    be_dirent entry{};
    int count = 0;
    while (sys_readdir(fd, &entry, sizeof(entry)) == 1) count++;
    EXPECT_EQ(4, count);
    EXPECT_EQ(0, sys_readdir(fd, &entry, sizeof(entry))) << "stays at the end";
    ASSERT_EQ(B_OK, sys_rewinddir(fd));
    ASSERT_EQ(1, sys_readdir(fd, &entry, sizeof(entry)));
    EXPECT_STREQ(".", entry.d_name);
    EXPECT_EQ(B_BAD_VALUE, sys_readdir(fd, &entry, 4)) << "no room for a name";
    char buf[4];
    EXPECT_EQ(B_IS_A_DIRECTORY, sys_read(fd, 0, buf, sizeof(buf)));
    ASSERT_EQ(B_OK, sys_closedir(fd));
    EXPECT_EQ(B_NOT_A_DIRECTORY, sys_opendir(vol.Path("d/one").c_str()));

    ASSERT_EQ(B_OK, sys_rename(vol.Path("d/one").c_str(), vol.Path("uno").c_str()));
    EXPECT_EQ((std::set<std::string>{".", "..", "two"}), List(vol.Path("d")));
    be_stat st{};
    EXPECT_EQ(B_OK, sys_stat(vol.Path("uno").c_str(), &st));

    EXPECT_EQ(B_DIRECTORY_NOT_EMPTY, sys_rmdir(vol.Path("d").c_str()));
    EXPECT_EQ(B_IS_A_DIRECTORY, sys_unlink(vol.Path("d").c_str()));
    EXPECT_EQ(B_NOT_A_DIRECTORY, sys_rmdir(vol.Path("uno").c_str()));
    EXPECT_EQ(B_BAD_VALUE, sys_rmdir(vol.Path("d/.").c_str()));
    EXPECT_EQ(B_BUSY, sys_rmdir(vol.Path("").c_str())) << "the mount point itself";
    ASSERT_EQ(B_OK, sys_unlink(vol.Path("d/two").c_str()));
    ASSERT_EQ(B_OK, sys_rmdir(vol.Path("d").c_str()));
    EXPECT_EQ(B_ENTRY_NOT_FOUND, sys_stat(vol.Path("d").c_str(), &st));
    UnmountBalanced(vol);
}

TEST(Paths, StatWstatAndVolumeInfo) {
    MemVolume vol("/paths/stat");
    vol.MakeFile("f", "0123456789");
    be_stat st{};
    st.st_mode = 0600;
    st.st_size = 4;
    st.st_mtim = {1000000, 0};
    ASSERT_EQ(B_OK, sys_wstat(vol.Path("f").c_str(), &st, WSTAT_MODE | WSTAT_SIZE | WSTAT_MTIME));
    be_stat now{};
    ASSERT_EQ(B_OK, sys_stat(vol.Path("f").c_str(), &now));
    EXPECT_EQ(B_S_IFREG | 0600, now.st_mode);
    EXPECT_EQ(4, now.st_size);
    EXPECT_EQ(1000000, now.st_mtime);

    fs_info info{};
    ASSERT_EQ(B_OK, sys_rfsstat(vol.Path("f").c_str(), &info));
    EXPECT_EQ(vol.nsid(), info.dev);
    EXPECT_EQ(vol.root(), info.root);
    EXPECT_STREQ("memfs", info.fsh_name);
    EXPECT_EQ(B_ENTRY_NOT_FOUND, sys_rfsstat(vol.Path("missing").c_str(), &info));
}

TEST(Paths, AttributesWriteReadStatRenameListRemove) {
    MemVolume vol("/paths/attrs");
    vol.MakeFile("f");
    const std::string f = vol.Path("f");
    const char type[] = "text/plain";
    EXPECT_EQ(11,
              sys_write_attr(f.c_str(), "BEOS:TYPE", B_MIME_STRING_TYPE, 0, type, sizeof(type)));
    EXPECT_EQ(3, sys_write_attr(f.c_str(), "note", B_STRING_TYPE, 0, "abc", 3));
    char buf[32] = {};
    EXPECT_EQ(11, sys_read_attr(f.c_str(), "BEOS:TYPE", B_MIME_STRING_TYPE, 0, buf, sizeof(buf)));
    EXPECT_STREQ("text/plain", buf);
    EXPECT_EQ(2, sys_read_attr(f.c_str(), "note", B_STRING_TYPE, 1, buf, sizeof(buf)));
    attr_info info{};
    ASSERT_EQ(B_OK, sys_stat_attr(f.c_str(), "note", &info));
    EXPECT_EQ(B_STRING_TYPE, info.type);
    EXPECT_EQ(3, info.size);

    ASSERT_EQ(B_OK, sys_rename_attr(f.c_str(), "note", "memo"));
    EXPECT_EQ(B_ENTRY_NOT_FOUND, sys_stat_attr(f.c_str(), "note", &info));
    int fd = sys_open_attrdir(f.c_str());
    ASSERT_GE(fd, 0);
    std::set<std::string> names;
    be_dirent entry{};
    while (sys_read_attrdir(fd, &entry, sizeof(entry)) == 1) names.insert(entry.d_name);
    EXPECT_EQ((std::set<std::string>{"BEOS:TYPE", "memo"}), names);
    ASSERT_EQ(B_OK, sys_rewind_attrdir(fd));
    EXPECT_EQ(1, sys_read_attrdir(fd, &entry, sizeof(entry)));
    EXPECT_EQ(B_BAD_VALUE, sys_closedir(fd)) << "not a directory listing";
    ASSERT_EQ(B_OK, sys_close_attrdir(fd));

    ASSERT_EQ(B_OK, sys_remove_attr(f.c_str(), "memo"));
    EXPECT_EQ(B_ENTRY_NOT_FOUND, sys_remove_attr(f.c_str(), "memo"));
    EXPECT_EQ(B_BAD_VALUE, sys_read_attr(f.c_str(), "BEOS:TYPE", 0, -5, buf, sizeof(buf)));
}

TEST(Paths, AddOnStatusesArePassedOnUnchanged) {
    MemVolume vol("/paths/status");
    vol.MakeFile("f", "data");
    const std::string f = vol.Path("f");
    be_stat st{};
    memfs::InjectFailure(vol.nsid(), "walk", B_IO_ERROR);
    EXPECT_EQ(B_IO_ERROR, sys_stat(f.c_str(), &st));
    memfs::InjectFailure(vol.nsid(), "walk", B_OK);

    memfs::InjectFailure(vol.nsid(), "open", B_PERMISSION_DENIED);
    EXPECT_EQ(B_PERMISSION_DENIED, sys_open(f.c_str(), B_O_RDONLY, 0));
    memfs::InjectFailure(vol.nsid(), "open", B_OK);

    memfs::InjectFailure(vol.nsid(), "create", B_READ_ONLY_DEVICE);
    EXPECT_EQ(B_READ_ONLY_DEVICE, sys_open(vol.Path("new").c_str(), B_O_RDWR | B_O_CREAT, 0));

    int fd = sys_open(f.c_str(), B_O_RDWR, 0);
    ASSERT_GE(fd, 0);
    char buf[8];
    memfs::InjectFailure(vol.nsid(), "read", B_BUSY);
    EXPECT_EQ(B_BUSY, sys_read(fd, 0, buf, sizeof(buf)));
    memfs::InjectFailure(vol.nsid(), "write", B_DEVICE_FULL);
    EXPECT_EQ(B_DEVICE_FULL, sys_write(fd, 0, "x", 1));
    memfs::InjectFailure(vol.nsid(), "close", B_IO_ERROR);
    EXPECT_EQ(B_IO_ERROR, sys_close(fd)) << "close's answer, and the descriptor is gone";
    EXPECT_EQ(B_FILE_ERROR, sys_close(fd));
    memfs::InjectFailure(vol.nsid(), "close", B_OK);

    for (const char* op : {"rstat", "wstat", "mkdir", "unlink", "rename", "rfsstat", "write_attr",
                           "opendir", "readdir"}) {
        memfs::InjectFailure(vol.nsid(), op, B_NOT_ALLOWED);
    }
    fs_info info{};
    EXPECT_EQ(B_NOT_ALLOWED, sys_stat(f.c_str(), &st));
    EXPECT_EQ(B_NOT_ALLOWED, sys_wstat(f.c_str(), &st, WSTAT_MODE));
    EXPECT_EQ(B_NOT_ALLOWED, sys_mkdir(vol.Path("d").c_str(), 0755));
    EXPECT_EQ(B_NOT_ALLOWED, sys_unlink(f.c_str()));
    EXPECT_EQ(B_NOT_ALLOWED, sys_rename(f.c_str(), vol.Path("g").c_str()));
    EXPECT_EQ(B_NOT_ALLOWED, sys_rfsstat(f.c_str(), &info));
    EXPECT_EQ(B_NOT_ALLOWED, sys_write_attr(f.c_str(), "a", B_RAW_TYPE, 0, "x", 1));
    EXPECT_EQ(B_NOT_ALLOWED, sys_opendir(vol.Path("").c_str()));
    ASSERT_EQ(B_OK, vol.Unmount()) << "every failed call gave its references back";
    ExpectBalanced(vol.Report());
}

namespace {

int bare_mount(nspace_id, const char*, unsigned long, void*, size_t, void** ns, vnode_id* root) {
    static int volume;
    *ns = &volume;
    *root = 1;
    return B_OK;
}

int bare_read_vnode(void*, vnode_id, char, void** node) {
    static int root;
    *node = &root;
    return B_OK;
}

}  // namespace

TEST(Paths, EmptySlotsAnswerUnsupported) {
    vnode_ops ops{};
    ops.mount = bare_mount;
    ops.read_vnode = bare_read_vnode;
    status_t registered = kernel_register_fs("bare", &ops, B_CURRENT_FS_API_VERSION);
    ASSERT_TRUE(registered == B_OK || registered == B_NAME_IN_USE);
    ASSERT_EQ(B_OK, mount("bare", "/bare", nullptr, 0, nullptr, 0));
    be_stat st{};
    fs_info info{};
    attr_info ai{};
    char buf[4];
    EXPECT_EQ(B_UNSUPPORTED, sys_stat("/bare", &st));
    EXPECT_EQ(B_UNSUPPORTED, sys_stat("/bare/x", &st)) << "no walk";
    EXPECT_EQ(B_UNSUPPORTED, sys_wstat("/bare", &st, WSTAT_MODE));
    EXPECT_EQ(B_UNSUPPORTED, sys_open("/bare", B_O_RDONLY, 0));
    EXPECT_EQ(B_UNSUPPORTED, sys_opendir("/bare"));
    EXPECT_EQ(B_UNSUPPORTED, sys_mkdir("/bare/d", 0755));
    EXPECT_EQ(B_UNSUPPORTED, sys_rfsstat("/bare", &info));
    EXPECT_EQ(B_UNSUPPORTED, sys_open_attrdir("/bare"));
    EXPECT_EQ(B_UNSUPPORTED, sys_read_attr("/bare", "a", 0, 0, buf, sizeof(buf)));
    EXPECT_EQ(B_UNSUPPORTED, sys_write_attr("/bare", "a", 0, 0, buf, sizeof(buf)));
    EXPECT_EQ(B_UNSUPPORTED, sys_stat_attr("/bare", "a", &ai));
    EXPECT_EQ(B_UNSUPPORTED, sys_remove_attr("/bare", "a"));
    EXPECT_EQ(B_UNSUPPORTED, sys_rename_attr("/bare", "a", "b"));
    nspace_id nsid = 0;
    vnode_id root = 0;
    ASSERT_EQ(B_OK, kernel_volume_at("/bare", &nsid, &root));
    vnode_id found = 0;
    EXPECT_EQ(B_UNSUPPORTED, vfs_lookup(nsid, root, "x", &found));
    EXPECT_EQ(B_UNSUPPORTED, vfs_unlink(nsid, root, "x"));
    EXPECT_EQ(B_UNSUPPORTED, vfs_rmdir(nsid, root, "x"));
    EXPECT_EQ(B_UNSUPPORTED, vfs_rename(nsid, root, "x", root, "y"));
    EXPECT_EQ(B_UNSUPPORTED, vfs_create(nsid, root, "x", B_O_RDWR, 0644, &found));
    EXPECT_EQ(B_OK, unmount("/bare")) << "no write_vnode or unmount slot needed";
}
