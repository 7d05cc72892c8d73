// The desktop notices over a serial line: the simulated handheld at the far end of a
// pseudo-terminal connects, hangs up and comes back, and the notices on a private session bus
// follow it.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "DeviceTestSupport.h"
#include "NoticeTestSupport.h"
#include "device/LineHandheld.h"
#include "host/DesktopNotice.h"
#include "host/HostLink.h"
#include "host/LinkNotices.h"
#include "host/SerialLink.h"

namespace {

using namespace std::chrono_literals;

constexpr bigtime_t kUpTimeout = 60000000;  // a connect on a busy sanitizer build

// Waits (a generous while) until the service has had `count` notices; what it has.
std::vector<noticetest::Received> WaitForNotices(noticetest::FakeNotificationService& service,
                                                 size_t count) {
    auto deadline = std::chrono::steady_clock::now() + 60s;
    while (service.Notices().size() < count && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    return service.Notices();
}

TEST(SerialLinkNotices, EveryConnectAndHangUpOfTheHandheldIsAnnounced) {
    noticetest::PrivateBus bus;
    ASSERT_FALSE(bus.address.empty()) << "dbus-daemon --session did not start";
    noticetest::ScopedEnv address("DBUS_SESSION_BUS_ADDRESS", bus.address.c_str());
    noticetest::FakeNotificationService service(bus.address);
    ASSERT_TRUE(service.ready);

    devtest::TempFolder folder;
    handheld::LineHandheldOptions device;
    device.device.family = handheld::Family::Series5;
    device.device.drives.push_back(devtest::Drive('C', "INTERNAL", folder.Path()));
    device.baud = 115200;
    std::string error;
    auto handheld = handheld::LineHandheld::OnPty(std::move(device), error);
    ASSERT_NE(handheld, nullptr) << error;

    // The host starts out expecting a Series 3: the notices name the handheld that answered.
    vantrel::HostOptions options;
    options.traceInMemory = true;
    vantrel::HostLink host(options);
    ASSERT_EQ(host.Start(), B_OK);
    vantrel::DesktopNotice notice(host.FamilyVersion());
    vantrel::LinkNotices watch(host, notice);
    vantrel::SerialLinkOptions serial;
    serial.port = handheld->Path();
    serial.baud = 115200;
    serial.quiet = true;
    auto link = std::make_unique<vantrel::SerialLink>(host, serial);
    ASSERT_TRUE(link->OpenPort(error)) << error;
    EXPECT_TRUE(service.Notices().empty());  // nothing before the handheld answers
    link->Start();

    ASSERT_TRUE(link->WaitUp(kUpTimeout));
    auto got = WaitForNotices(service, 1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].summary, "Psion Series 5 connected");
    EXPECT_EQ(got[0].category, "device.added");
    EXPECT_EQ(got[0].replaces, 0u);

    // The handheld hangs up (Remote link switched off).
    handheld->Endpoint().Close();
    ASSERT_TRUE(host.WaitForLinkDown(kUpTimeout));
    got = WaitForNotices(service, 2);
    ASSERT_GE(got.size(), 2u);  // the handheld may have answered again already
    EXPECT_EQ(got[1].summary, "Psion Series 5 disconnected");
    EXPECT_EQ(got[1].body, "No drive was mounted.");
    EXPECT_EQ(got[1].category, "device.removed");
    EXPECT_EQ(got[1].replaces, 1u);  // the same notice, now saying it is gone

    // It answers again: a new notice for the new link.
    ASSERT_TRUE(link->WaitUp(kUpTimeout));
    got = WaitForNotices(service, 3);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[2].summary, "Psion Series 5 connected");
    EXPECT_EQ(got[2].replaces, 0u);

    // vantrel stops: the session ends and the notice says so.
    link.reset();
    got = WaitForNotices(service, 4);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[3].summary, "Psion Series 5 disconnected");
    EXPECT_EQ(got[3].replaces, 3u);
    notice.Flush();
    EXPECT_EQ(notice.Delivered(), 4);
}

}  // namespace
