// The LINK server's register request, the test server it starts, and the Series 5's drive
// list and drive information requests.
#include "DeviceTestSupport.h"
#include "platform/Series5Wire.h"

using namespace devtest;
using namespace handheld;

namespace {

Bytes Handle(Session& session, const Bytes& packet) {
    Bytes reply;
    EXPECT_TRUE(session.Handle(packet.data(), packet.size(), reply));
    return reply;
}

TEST(LinkServer, RegisterStartsTheTestServerAndEchoesTheCheckValue) {
    HandheldOptions options;
    auto device = Handheld::Create(options);
    EXPECT_TRUE(device->HasServer("SYS$RFSV"));
    EXPECT_TRUE(device->HasServer("link"));
    EXPECT_FALSE(device->HasServer("ECHO"));
    EXPECT_EQ(device->Open("ECHO"), nullptr);

    auto link = device->Open("LINK");
    ASSERT_NE(link, nullptr);
    Bytes reply = Handle(*link, {0x00, 0x2B, 0x1A, 'E', 'C', 'H', 'O', 0});
    ASSERT_EQ(reply.size(), LINK_REGISTER_REPLY_SIZE);
    EXPECT_EQ(reply[1], 0x2B);
    EXPECT_EQ(reply[2], 0x1A);
    EXPECT_EQ(BytesToWord(&reply[3]), 0);
    EXPECT_EQ(Text(reply, 7), "ECHO");
    EXPECT_TRUE(device->HasServer("ECHO"));

    auto echo = device->Open("echo");
    ASSERT_NE(echo, nullptr);
    EXPECT_EQ(Handle(*echo, {1, 2, 3}), (Bytes{1, 2, 3}));

    // Registrations lapse with the link.
    device->LinkDropped();
    EXPECT_FALSE(device->HasServer("ECHO"));
}

TEST(LinkServer, UnknownServersAndBrokenRequestsGetAStatus) {
    auto device = Handheld::Create(HandheldOptions());
    auto link = device->Open("LINK");
    Bytes reply = Handle(*link, {0x00, 0x01, 0x02, 'N', 'O', 'P', 'E', 0});
    ASSERT_EQ(reply.size(), LINK_REGISTER_REPLY_SIZE);
    EXPECT_EQ(BytesToWord(&reply[3]), RFSV_NOT_FOUND);
    EXPECT_FALSE(device->HasServer("NOPE"));

    reply = Handle(*link, {0x05, 0x01, 0x02, 'E', 0});
    EXPECT_EQ(BytesToWord(&reply[3]), RFSV_NOT_SUPPORTED);
    reply = Handle(*link, {0x00});
    ASSERT_EQ(reply.size(), LINK_REGISTER_REPLY_SIZE);
    EXPECT_EQ(BytesToWord(&reply[3]), RFSV_BAD_ARGUMENT);
    // A name without its NUL is cut to the name field.
    Bytes longName = {0x00, 0x01, 0x02};
    longName.insert(longName.end(), 60, 'X');
    reply = Handle(*link, longName);
    EXPECT_EQ(Text(reply, 7).size(), LINK_NAME_SIZE - 1);
}

class Series5Test : public ::testing::Test {
protected:
    void SetUp() override {
        HandheldOptions options;
        options.family = Family::Series5;
        options.drives = {Drive('C', "Internal", folder.Path()),
                          Drive('D', "Flash card", folder.Path())};
        device = Handheld::Create(options);
        session = device->Open("SYS$RFSV");
        ASSERT_NE(session, nullptr);
    }
    TempFolder folder;
    std::unique_ptr<Handheld> device;
    std::unique_ptr<Session> session;
};

TEST_F(Series5Test, DriveListMarksPresentDrivesAtOffset8) {
    Bytes reply = Handle(*session, {0x13, 0x00, 0x07, 0x00});
    ASSERT_EQ(reply.size(), 34u);
    EXPECT_EQ(Word(reply, 2), 7);  // the operation id comes back
    for (size_t i = 0; i < 26; ++i)
        EXPECT_EQ(reply[8 + i] != 0, i == 2 || i == 3) << "drive " << char('A' + i);
}

TEST_F(Series5Test, DriveInfoHasNameLengthAt44AndNameAt48) {
    Bytes reply = Handle(*session, {0x14, 0x00, 0x08, 0x00, 3, 0, 0, 0});
    ASSERT_GE(reply.size(), 42u);
    ASSERT_EQ(Long(reply, 44), 10u);
    EXPECT_EQ(std::string(reply.begin() + 48, reply.end()), "Flash card");
    EXPECT_EQ(Long(reply, 28), 2u * 1024 * 1024);
    // An absent drive gets a short error reply.
    reply = Handle(*session, {0x14, 0x00, 0x09, 0x00, 0, 0, 0, 0});
    EXPECT_LT(reply.size(), 42u);
    reply = Handle(*session, {0x14, 0x00, 0x09, 0x00, 0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_LT(reply.size(), 42u);
    // Too short or unknown requests get a status, never a crash.
    EXPECT_EQ(Handle(*session, {0x14, 0x00}).size(), 8u);
    EXPECT_EQ(Handle(*session, {}).size(), 8u);
    EXPECT_EQ(Handle(*session, {0x30, 0x00, 0x01, 0x00}).size(), 8u);
}

// A host name that is not sound UTF-8 (here an overlong 'A') stands for no name on the drive:
// were it shown as "A", requests for "A" would reach a file of another name.
TEST_F(Series5Test, HostNamesThatAreNotSoundUtf8StayHidden) {
    folder.Write("\xC1\x81", "hidden");
    folder.Write("B", "shown");
    auto entry = [&](const std::string& name) {
        Bytes request = {
            epoc::kRemoteEntry, 0x00, 0x0A, 0x00, static_cast<uint8>(name.size()), 0x00};
        request.insert(request.end(), name.begin(), name.end());
        return Handle(*session, request);
    };
    Bytes reply = entry("C:\\B");
    ASSERT_GE(reply.size(), 8u);
    EXPECT_EQ(static_cast<int32>(Long(reply, 4)), epoc::kOk);
    reply = entry("C:\\A");
    ASSERT_GE(reply.size(), 8u);
    EXPECT_EQ(static_cast<int32>(Long(reply, 4)), epoc::kNotFound);
}

}  // namespace
