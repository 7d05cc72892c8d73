#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "MountPoint.h"

namespace {

std::string Path(const char* root, const char* volume, status_t expected = B_OK) {
    char path[128];
    memset(path, 'x', sizeof(path));
    status_t status = MakeMountPointPath(root, 256, volume, path, sizeof(path));
    EXPECT_EQ(status, expected) << root << " + " << volume;
    return status == B_OK ? std::string(path) : std::string("<refused>");
}

TEST(MountPointPath, OneSlashBetweenRootAndVolume) {
    EXPECT_EQ(Path("/mnt/psion", "INTERNAL"), "/mnt/psion/INTERNAL");
    EXPECT_EQ(Path("/mnt/psion/", "INTERNAL"), "/mnt/psion/INTERNAL");
    EXPECT_EQ(Path("/m", "DISK"), "/m/DISK");
}

// Nothing is ever mounted on the mount root itself or straight under "/": an empty volume name
// is refused (the client names such a drive after its letter), and so is a root that is empty,
// relative or "/".
TEST(MountPointPath, NeverTheRootItselfNorTheSystemsFolders) {
    Path("/mnt/psion", "", B_NOT_ALLOWED);
    Path("", "DISK", B_BAD_VALUE);
    Path("/", "DISK", B_BAD_VALUE);
    Path("///", "DISK", B_BAD_VALUE);
    Path("mnt/psion", "DISK", B_BAD_VALUE);
    EXPECT_FALSE(MountRootIsUsable("", 256));
    EXPECT_FALSE(MountRootIsUsable("//", 256));
    EXPECT_TRUE(MountRootIsUsable("/mnt/psion/", 256));
}

TEST(MountPointPath, VolumeNamesNeverLeaveTheRoot) {
    EXPECT_EQ(Path("/mnt/psion", "../../etc"), "/mnt/psion/.._.._etc");
    EXPECT_EQ(Path("/mnt/psion", "/"), "/mnt/psion/_");
    EXPECT_EQ(Path("/mnt/psion", "A/B"), "/mnt/psion/A_B");
    Path("/mnt/psion", ".", B_NOT_ALLOWED);
    Path("/mnt/psion", "..", B_NOT_ALLOWED);
    EXPECT_EQ(Path("/mnt/psion", "..."), "/mnt/psion/...");
}

TEST(MountPointPath, ResultMustFitTheField) {
    std::string root = "/" + std::string(120, 'r');           // 121 characters
    EXPECT_EQ(Path(root.c_str(), "ABCDE"), root + "/ABCDE");  // 127: fits
    Path(root.c_str(), "ABCDEF", B_NAME_TOO_LONG);            // 128: does not
    std::string longRoot = "/" + std::string(200, 'r');
    Path(longRoot.c_str(), "V", B_NAME_TOO_LONG);
}

TEST(MountPointPath, RootIsReadOnlyUpToItsCapacity) {
    char root[8];
    memcpy(root, "/mnt/abc", 8);  // no terminator within its 8 bytes
    char path[128];
    ASSERT_EQ(MakeMountPointPath(root, sizeof(root), "V", path, sizeof(path)), B_OK);
    EXPECT_STREQ(path, "/mnt/abc/V");
}

TEST(ReplyString, TerminatorMustBeAmongTheBytesReceived) {
    uint8 reply[128] = {};
    memcpy(reply + 70, "M:", 3);
    char name[128];
    ASSERT_TRUE(CopyReplyString(reply, 73, 70, name, sizeof(name)));
    EXPECT_STREQ(name, "M:");
    // The NUL at 72 was not received.
    strcpy(name, "kept");
    EXPECT_FALSE(CopyReplyString(reply, 72, 70, name, sizeof(name)));
    EXPECT_STREQ(name, "kept");
    EXPECT_FALSE(CopyReplyString(reply, 70, 70, name, sizeof(name)));
    EXPECT_FALSE(CopyReplyString(reply, 10, 70, name, sizeof(name)));
}

TEST(ReplyString, LongerThanTheFieldIsRefused) {
    uint8 reply[64];
    memset(reply, 'N', sizeof(reply));
    reply[63] = '\0';  // a 43-character name at 20
    char small[43];
    EXPECT_FALSE(CopyReplyString(reply, sizeof(reply), 20, small, sizeof(small)));
    char fits[44];
    EXPECT_TRUE(CopyReplyString(reply, sizeof(reply), 20, fits, sizeof(fits)));
    EXPECT_EQ(strlen(fits), 43u);
}

}  // namespace
