#include <fcntl.h>
#include <gtest/gtest.h>

#include "OpenMode.h"
#include "kernel/fs_interface.h"

namespace fusebridge {
namespace {

TEST(OpenMode, AccessModesAndCreationBitsTakeThePlatformValues) {
    EXPECT_EQ(open_mode_from_linux(O_RDONLY), B_O_RDONLY);
    EXPECT_EQ(open_mode_from_linux(O_WRONLY | O_CREAT | O_TRUNC),
              B_O_WRONLY | B_O_CREAT | B_O_TRUNC);
    EXPECT_EQ(open_mode_from_linux(O_RDWR | O_APPEND), B_O_RDWR | B_O_APPEND);
    EXPECT_EQ(open_mode_from_linux(O_WRONLY | O_CREAT | O_EXCL), B_O_WRONLY | B_O_CREAT | B_O_EXCL);
}

TEST(OpenMode, LinuxOnlyFlagsAreDropped) {
    // Linux's O_TRUNC (0x200) is the platform's O_CREAT: an untranslated bit would create.
    EXPECT_EQ(open_mode_from_linux(O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW | O_LARGEFILE),
              B_O_RDONLY);
    EXPECT_EQ(open_mode_from_linux(O_WRONLY | O_TRUNC) & B_O_CREAT, 0);
}

}  // namespace
}  // namespace fusebridge
