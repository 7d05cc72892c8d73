#include <gtest/gtest.h>

#include "StatConvert.h"

namespace fusebridge {
namespace {

TEST(StatConvert, NodesBelongToTheServingUserAndKeepTheirTimes) {
    be_stat st{};
    st.st_ino = 0x7f0012345678;
    st.st_mode = B_S_IFREG | 0644;
    st.st_nlink = 1;
    st.st_uid = 0;
    st.st_size = 70000;
    st.st_blksize = 511;
    st.st_mtim = {946684800, 0};
    st.st_atim = {946684801, 0};
    st.st_ctim = {946684802, 0};
    struct stat result = linux_stat(st, 1000, 100);
    EXPECT_EQ(result.st_ino, static_cast<ino_t>(0x7f0012345678));
    EXPECT_EQ(result.st_mode, static_cast<mode_t>(S_IFREG | 0644));
    EXPECT_EQ(result.st_uid, 1000u);
    EXPECT_EQ(result.st_gid, 100u);
    EXPECT_EQ(result.st_size, 70000);
    EXPECT_EQ(result.st_blksize, 511);
    EXPECT_EQ(result.st_blocks, (70000 + 511) / 512);
    EXPECT_EQ(result.st_mtim.tv_sec, 946684800);
    EXPECT_EQ(result.st_atim.tv_sec, 946684801);
    EXPECT_EQ(result.st_ctim.tv_sec, 946684802);
}

TEST(StatConvert, ALinkCountOfZeroIsShownAsOne) {
    be_stat st{};
    st.st_mode = B_S_IFDIR | 0777;
    EXPECT_EQ(linux_stat(st, 0, 0).st_nlink, 1u);
}

TEST(StatConvert, DirectoriesCanBeListedWhateverTheirModeSays) {
    be_stat st{};
    st.st_mode = B_S_IFDIR | 0333;  // what a Series 3 directory with write access looks like
    EXPECT_EQ(linux_stat(st, 0, 0).st_mode, static_cast<mode_t>(S_IFDIR | 0777));
    st.st_mode = B_S_IFDIR | 0111;
    EXPECT_EQ(linux_stat(st, 0, 0).st_mode, static_cast<mode_t>(S_IFDIR | 0555));
    st.st_mode = B_S_IFREG | 0222;  // files keep theirs
    EXPECT_EQ(linux_stat(st, 0, 0).st_mode, static_cast<mode_t>(S_IFREG | 0222));
}

TEST(StatConvert, TheUmaskTakesBitsFromFilesAndFoldersAlike) {
    be_stat st{};
    st.st_mode = B_S_IFREG | 0666;
    EXPECT_EQ(linux_stat(st, 0, 0, 022).st_mode, static_cast<mode_t>(S_IFREG | 0644));
    EXPECT_EQ(linux_stat(st, 0, 0, 077).st_mode, static_cast<mode_t>(S_IFREG | 0600));
    st.st_mode = B_S_IFDIR | 0333;  // listable for all, then the umask
    EXPECT_EQ(linux_stat(st, 0, 0, 022).st_mode, static_cast<mode_t>(S_IFDIR | 0755));
    EXPECT_EQ(linux_stat(st, 0, 0, 027).st_mode, static_cast<mode_t>(S_IFDIR | 0750));
}

TEST(StatConvert, VolumeInformationCountsInTheVolumesBlocks) {
    fs_info info{};
    info.block_size = 1;
    info.io_size = 511;
    info.total_blocks = 1048576;
    info.free_blocks = 524288;
    info.flags = B_FS_IS_READONLY | B_FS_HAS_ATTR;
    struct statvfs result = linux_statvfs(info);
    EXPECT_EQ(result.f_frsize, 1u);
    EXPECT_EQ(result.f_blocks * result.f_frsize, 1048576u);
    EXPECT_EQ(result.f_bavail, 524288u);
    EXPECT_TRUE(result.f_flag & ST_RDONLY);
    info.flags = B_FS_HAS_ATTR;
    EXPECT_FALSE(linux_statvfs(info).f_flag & ST_RDONLY);
}

}  // namespace
}  // namespace fusebridge
