// Bringing a file's status up to date on request: what crosses the wire.
#include "WireFixture.h"

namespace {

class Refresh : public WireTest {
protected:
    status_t Ask(vnode* node, bigtime_t max_age) {
        return tavro_ioctl(vol, node, nullptr, B_IOCTL_REFRESH_STAT, &max_age, sizeof max_age);
    }
};

TEST_F(Refresh, AStatusYoungerThanAllowedIsNotAskedFor) {
    ExpectFinfo("M:\\F", Entry(0x0001, 1200, 10));
    vnode* node = Walk(root, "F");
    // The lookup just asked: nothing goes out.
    EXPECT_EQ(Ask(node, 3600000000LL), B_OK);
    EXPECT_EQ(node->size, 1200u);
    // Directories are kept up to date by their listings.
    EXPECT_EQ(Ask(root, 0), B_OK);
    EXPECT_EQ(tavro_ioctl(vol, node, nullptr, 12345, nullptr, 0), B_BAD_VALUE);
    Put(node);
}

TEST_F(Refresh, AnOlderStatusIsAskedForWithOneFinfo) {
    ExpectFinfo("M:\\F", Entry(0x0001, 1200, 10));
    vnode* node = Walk(root, "F");
    bigtime_t asked = node->info_time;
    ExpectFinfo("M:\\F", Entry(0x0001, 1500, 77));
    EXPECT_EQ(Ask(node, 0), B_OK);
    EXPECT_EQ(node->size, 1500u);
    EXPECT_EQ(node->mtime, 77u);
    EXPECT_GE(node->info_time, asked);

    // Gone from the device, or a directory now: the file is not there any more.
    device->Expect(Packet(FINFO, PathBytes("M:\\F")), Reply(-33));
    EXPECT_EQ(Ask(node, 0), B_ENTRY_NOT_FOUND);
    ExpectFinfo("M:\\F", Entry(0x0010, 0, 80));
    EXPECT_EQ(Ask(node, 0), B_ENTRY_NOT_FOUND);
    EXPECT_EQ(node->size, 1500u) << "a failed refresh changes nothing";
    Put(node);
}

}  // namespace
