// File systems found by name: registered tables and add-ons loaded from the add-on path.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "KernelTest.h"

TEST(AddOnLoading, AnAddOnIsLoadedByNameFromTheAddOnPath) {
    kernel_set_addon_path("/nonexistent/folder:" KERNEL_TEST_ADDON_DIR);
    ASSERT_EQ(B_OK, mount("testmemfs", "/loaded", nullptr, 0, nullptr, 0));
    int fd = sys_open("/loaded/f", B_O_RDWR | B_O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(5, sys_write(fd, 0, "hello", 5));
    char buf[8] = {};
    EXPECT_EQ(5, sys_read(fd, 0, buf, sizeof(buf)));
    EXPECT_STREQ("hello", buf);
    ASSERT_EQ(B_OK, sys_close(fd));
    fs_info info{};
    ASSERT_EQ(B_OK, sys_rfsstat("/loaded", &info));
    EXPECT_STREQ("memfs", info.fsh_name);
    // A second volume of the same add-on reuses the loaded object.
    ASSERT_EQ(B_OK, mount("testmemfs", "/loaded2", nullptr, 0, nullptr, 0));
    EXPECT_EQ(B_OK, unmount("/loaded2"));
    EXPECT_EQ(B_OK, unmount("/loaded"));
}

TEST(AddOnLoading, TheEnvironmentGivesTheDefaultPath) {
    ASSERT_EQ(0, setenv("TAVRO_FS_ADDON_PATH", KERNEL_TEST_ADDON_DIR, 1));
    kernel_set_addon_path(nullptr);
    ASSERT_EQ(B_OK, mount("testmemfs", "/from-env", nullptr, 0, nullptr, 0));
    EXPECT_EQ(B_OK, unmount("/from-env"));
    unsetenv("TAVRO_FS_ADDON_PATH");
}

TEST(AddOnLoading, UnknownWrongVersionAndBrokenAddOnsAreRefusedClearly) {
    kernel_set_addon_path(KERNEL_TEST_ADDON_DIR);
    EXPECT_EQ(B_NAME_NOT_FOUND, mount("nosuchfs", "/x", nullptr, 0, nullptr, 0));
    EXPECT_EQ(B_MISMATCHED_VALUES, mount("testoldapi", "/x", nullptr, 0, nullptr, 0));
    EXPECT_EQ(B_BAD_VALUE, mount("../file_systems/testmemfs", "/x", nullptr, 0, nullptr, 0))
        << "a name, not a path";
    EXPECT_EQ(B_BAD_VALUE, mount("", "/x", nullptr, 0, nullptr, 0));

    char folder[] = "/tmp/kernel-addons-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(folder));
    const std::string junk = std::string(folder) + "/junkfs.so";
    FILE* file = std::fopen(junk.c_str(), "w");
    ASSERT_NE(nullptr, file);
    std::fputs("not an object file", file);
    std::fclose(file);
    kernel_set_addon_path(folder);
    EXPECT_EQ(B_NOT_AN_EXECUTABLE, mount("junkfs", "/x", nullptr, 0, nullptr, 0));
    unlink(junk.c_str());
    rmdir(folder);
    EXPECT_EQ(B_ENTRY_NOT_FOUND, kernel_volume_at("/x", nullptr, nullptr));
}

TEST(AddOnLoading, RegisteredTablesAreCheckedAndHeldWhileMounted) {
    EXPECT_EQ(B_MISMATCHED_VALUES, kernel_register_fs("v1fs", &memfs::Ops(), 1));
    EXPECT_EQ(B_BAD_VALUE, kernel_register_fs("a/b", &memfs::Ops(), B_CURRENT_FS_API_VERSION));
    EXPECT_EQ(B_BAD_VALUE, kernel_register_fs("nullfs", nullptr, B_CURRENT_FS_API_VERSION));
    ASSERT_EQ(B_OK, kernel_register_fs("memfs2", &memfs::Ops(), B_CURRENT_FS_API_VERSION));
    EXPECT_EQ(B_NAME_IN_USE, kernel_register_fs("memfs2", &memfs::Ops(), B_CURRENT_FS_API_VERSION));
    ASSERT_EQ(B_OK, mount("memfs2", "/reg", nullptr, 0, nullptr, 0));
    EXPECT_EQ(B_BUSY, kernel_unregister_fs("memfs2"));
    ASSERT_EQ(B_OK, unmount("/reg"));
    EXPECT_EQ(B_OK, kernel_unregister_fs("memfs2"));
    EXPECT_EQ(B_NAME_NOT_FOUND, kernel_unregister_fs("memfs2"));
    EXPECT_EQ(B_NAME_NOT_FOUND, mount("memfs2", "/reg", nullptr, 0, nullptr, 0));
}
