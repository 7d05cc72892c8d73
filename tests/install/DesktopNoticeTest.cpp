// Desktop notifications, against a private session bus started by the test and a notification
// service of the test's own on it.
#include <gtest/gtest.h>

#include <chrono>

#include "NoticeTestSupport.h"
#include "host/DesktopNotice.h"

namespace {

using namespace std::chrono_literals;
using noticetest::FakeNotificationService;
using noticetest::PrivateBus;
using noticetest::ScopedEnv;

TEST(NoticeText, SaysWhichHandheldAndWhereEachDriveIs) {
    auto up = vantrel::ConnectedNotice(3, {});
    EXPECT_EQ(up.summary, "Psion Series 3 connected");
    EXPECT_EQ(up.body, "Its drives are being mounted.");
    up = vantrel::ConnectedNotice(5, {"/media/psion/C", "/media/psion/D"});
    EXPECT_EQ(up.summary, "Psion Series 5 connected");
    EXPECT_EQ(up.body, "Its drives are at:\n/media/psion/C\n/media/psion/D");
    auto down = vantrel::DisconnectedNotice(3, {"/m/INTERNAL"});
    EXPECT_EQ(down.summary, "Psion Series 3 disconnected");
    EXPECT_EQ(down.body, "Its drive is unmounted:\n/m/INTERNAL");
    EXPECT_EQ(vantrel::DisconnectedNotice(3, {}).body, "No drive was mounted.");
}

TEST(DesktopNotice, OneNoticeFollowsTheLinkOnThePrivateSessionBus) {
    PrivateBus bus;
    ASSERT_FALSE(bus.address.empty()) << "dbus-daemon --session did not start";
    ScopedEnv address("DBUS_SESSION_BUS_ADDRESS", bus.address.c_str());
    FakeNotificationService service(bus.address);
    ASSERT_TRUE(service.ready);

    {
        vantrel::DesktopNotice notice(3);
        // A drive mounted before the host told of the link is listed in the first notice.
        notice.DriveMounted("/run/user/1000/psion/INTERNAL");
        notice.LinkUp();
        notice.DriveMounted("/run/user/1000/psion/ROM");
        notice.DriveMounted("/run/user/1000/psion/ROM");  // told twice, listed once
        notice.LinkDown();
        notice.Flush();
        EXPECT_EQ(notice.Delivered(), 4);
    }
    auto got = service.Notices();
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0].app, "vantrel");
    EXPECT_EQ(got[0].summary, "Psion Series 3 connected");
    EXPECT_EQ(got[0].body, "Its drive is at:\n/run/user/1000/psion/INTERNAL");
    EXPECT_EQ(got[0].category, "device.added");
    EXPECT_EQ(got[0].replaces, 0u);  // a new notice for a new link
    EXPECT_EQ(got[1].body,
              "Its drives are at:\n/run/user/1000/psion/INTERNAL\n/run/user/1000/psion/ROM");
    EXPECT_EQ(got[1].replaces, 1u);  // the service's id for the first
    EXPECT_EQ(got[3].summary, "Psion Series 3 disconnected");
    EXPECT_EQ(got[3].body,
              "Its drives are unmounted:\n/run/user/1000/psion/INTERNAL\n/run/user/1000/psion/ROM");
    EXPECT_EQ(got[3].category, "device.removed");
    EXPECT_EQ(got[3].replaces, 3u);
    EXPECT_EQ(got[3].timeout, -1);
}

TEST(DesktopNotice, ANewLinkStartsANewNotice) {
    PrivateBus bus;
    ASSERT_FALSE(bus.address.empty());
    ScopedEnv address("DBUS_SESSION_BUS_ADDRESS", bus.address.c_str());
    FakeNotificationService service(bus.address);
    ASSERT_TRUE(service.ready);
    vantrel::DesktopNotice notice(5);
    notice.LinkUp();
    notice.LinkDown();
    notice.LinkUp();
    notice.Flush();
    auto got = service.Notices();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[1].body, "No drive was mounted.");
    EXPECT_EQ(got[2].summary, "Psion Series 5 connected");
    EXPECT_EQ(got[2].replaces, 0u);
}

// On a server: no session bus at all. Nothing is sent, nothing waits, nothing breaks.
TEST(DesktopNotice, WithoutASessionBusItStaysSilent) {
    ScopedEnv address("DBUS_SESSION_BUS_ADDRESS", nullptr);
    ScopedEnv runtime("XDG_RUNTIME_DIR", "/nonexistent-tavro-runtime");
    auto start = std::chrono::steady_clock::now();
    vantrel::DesktopNotice notice(3);
    notice.LinkUp();
    notice.DriveMounted("/mnt/psion/INTERNAL");
    notice.LinkDown();
    notice.Flush();
    EXPECT_EQ(notice.Delivered(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

// A session bus with no notification service on it (a desktop without one).
TEST(DesktopNotice, WithoutANotificationServiceNothingIsDelivered) {
    PrivateBus bus;
    ASSERT_FALSE(bus.address.empty());
    ScopedEnv address("DBUS_SESSION_BUS_ADDRESS", bus.address.c_str());
    vantrel::DesktopNotice notice(3);
    notice.LinkUp();
    notice.LinkDown();
    notice.Flush();
    EXPECT_EQ(notice.Delivered(), 0);
}

}  // namespace
