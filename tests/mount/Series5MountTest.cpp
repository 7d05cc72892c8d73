// The Series 5 drive list and drive information sequence against a scripted device.
#include <gtest/gtest.h>

#include <cstring>

#include "ClientHarness.h"
#include "RecordingFs.h"
#include "ScriptedDevice.h"
#include "Series3Bytes.h"
#include "TempDir.h"
#include "kernel/syscalls.h"
#include "platform/ByteOrder.h"
#include "platform/HostProtocol.h"

namespace {

constexpr uint16 kChannel = 3;

Bytes DriveListRequest(uint16 opid) { return Word(0x13) + Word(opid); }

Bytes DriveInfoRequest(uint16 opid, uint32 index) {
    Bytes request = Word(0x14) + Word(opid) + Bytes(4);
    LongToBytes(index, request.data() + 4);
    return request;
}

Bytes DriveListReply(const std::string& drives) {
    Bytes reply = {0x11, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    Bytes present(26, 0);
    for (char letter : drives) {
        present[letter - 'A'] = 1;
    }
    return reply + present;
}

Bytes DriveInfoReply(const std::string& name, uint32 length) {
    Bytes reply(48, 0x5A);
    LongToBytes(length, reply.data() + 44);
    reply.insert(reply.end(), name.begin(), name.end());
    return reply;
}

Bytes DriveInfoReply(const std::string& name) {
    return DriveInfoReply(name, static_cast<uint32>(name.size()));
}

class Series5Mount : public testing::Test {
protected:
    // The id of the n-th request of this test's connection.
    uint16 Id(int n) const { return static_cast<uint16>(first + n); }

    void SetUp() override {
        AddOn& addOn = AddOn::Get();
        ASSERT_NE(addOn.handle, nullptr) << addOn.error;
        ASSERT_EQ(addOn.initialise(), 0);
        root = dir / "psion";
        strcpy(addOn.configs->mountPoint, root.c_str());
        ASSERT_NE(addOn.opidc, nullptr);
        first = addOn.opidc->load();
    }

    std::string Header(int version) {
        return "Start mount -- version " + std::to_string(version) +
               "\nconfig->debug set to: 0\nRFSV start " + std::to_string(device.ReplyPort()) +
               ", SYS$RFSV.*\n";
    }

    TempDir dir;
    std::string root;
    uint16 first = 0;
    RecordingFs fs;
    ScriptedDevice device{ScriptedDevice::Host()};
};

// Both connections run in one loaded add-on: the operation ids start at 1 and run on.
TEST_F(Series5Mount, DrivesWithConsecutiveOperationIdsAcrossConnections) {
    ASSERT_NE(AddOn::Get().opidc, nullptr);
    uint16 first = AddOn::Get().opidc->load();
    if (AddOn::Get().runs == 0) {
        EXPECT_EQ(first, 1);
    }
    device.ExpectConnect(HOST_CONNECT_REPLY + kChannel);
    device.Expect(kChannel, DriveListRequest(first), DriveListReply("ACD"));
    device.Expect(kChannel, DriveInfoRequest(first + 1, 0), DriveInfoReply("Disk"));
    device.Expect(kChannel, DriveInfoRequest(first + 2, 2), DriveInfoReply("Internal"));
    device.Expect(kChannel, DriveInfoRequest(first + 3, 3), DriveInfoReply("Rom"));
    {
        ClientRun run(5);
        ASSERT_TRUE(device.WaitUntilDone(15000000));
        auto mounts = fs.Mounts();
        for (int i = 0; i < 200 && (mounts = fs.Mounts()).size() < 3; i++) {
            snooze(10000);
        }
        ASSERT_EQ(mounts.size(), 3u);
        const char* devices[] = {"A:", "C:", "D:"};
        const char* names[] = {"Disk", "Internal", "Rom"};
        for (int i = 0; i < 3; i++) {
            EXPECT_EQ(mounts[i].fileSystem, "tavro5");
            EXPECT_STREQ(mounts[i].block.device, devices[i]);
            EXPECT_EQ(std::string(mounts[i].block.path), root + "/" + names[i]);
            EXPECT_EQ(mounts[i].block.channel, kChannel);
            EXPECT_EQ(mounts[i].block.readPort, device.ReplyPort());
        }
        ASSERT_NO_FATAL_FAILURE(FinishRun(device, run));
        EXPECT_EQ(run.Output(),
                  Header(5) + "DEVICE A: mounted to " + root + "/Disk\n" + "DEVICE C: mounted to " +
                      root + "/Internal\n" + "DEVICE D: mounted to " + root + "/Rom\n" +
                      "Drive A: mounted at " + root + "/Disk\n" + "Drive C: mounted at " + root +
                      "/Internal\n" + "Drive D: mounted at " + root + "/Rom\n");
        EXPECT_EQ(fs.Unmounts(), (std::vector<std::string>{"A:", "C:", "D:"}));
    }

    ScriptedDevice second{ScriptedDevice::Host()};
    second.ExpectConnect(HOST_CONNECT_REPLY + kChannel + 1);
    second.Expect(kChannel + 1, DriveListRequest(first + 4), DriveListReply("Z"));
    second.Expect(kChannel + 1, DriveInfoRequest(first + 5, 25), DriveInfoReply("Last"));
    ClientRun run(4);  // 4 is a Series 5 too
    ASSERT_NO_FATAL_FAILURE(FinishRun(second, run));
    auto mounts = fs.Mounts();
    ASSERT_EQ(mounts.size(), 4u);
    EXPECT_STREQ(mounts[3].block.device, "Z:");
}

TEST_F(Series5Mount, ShortRepliesAndNamesOutsideTheReply) {
    device.ExpectConnect(HOST_CONNECT_REPLY + kChannel);
    device.Expect(kChannel, DriveListRequest(Id(0)), DriveListReply("ABCDEFG"));
    Bytes exactly41 = DriveInfoReply("");
    exactly41.resize(41);
    device.Expect(kChannel, DriveInfoRequest(Id(1), 0), exactly41);  // A: ignored
    Bytes exactly42 = DriveInfoReply("");
    exactly42.resize(42);
    device.Expect(kChannel, DriveInfoRequest(Id(2), 1), exactly42);  // B: empty name
    device.Expect(kChannel, DriveInfoRequest(Id(3), 2), DriveInfoReply("Disk", 5));  // C: past end
    device.Expect(kChannel, DriveInfoRequest(Id(4), 3), DriveInfoReply("Big", 0xFFFFFFF0));
    device.Expect(kChannel, DriveInfoRequest(Id(5), 4), DriveInfoReply(".."));
    device.Expect(kChannel, DriveInfoRequest(Id(6), 5), DriveInfoReply("a/b"));
    device.Expect(kChannel, DriveInfoRequest(Id(7), 6), DriveInfoReply(std::string(130, 'n')));
    fs.FailMount("B:", B_PERMISSION_DENIED);
    ClientRun run(5);
    ASSERT_NO_FATAL_FAILURE(FinishRun(device, run));

    // An unlabelled drive: a mount point named after its letter, not the mount root.
    EXPECT_EQ(fs.MountedDrives(), (Drives{{"B:", root + "/B"}, {"F:", root + "/a_b"}}));
    EXPECT_EQ(run.Output(), Header(5) + "DEVICE B: mounted to " + root + "/B\n" +
                                "DEVICE C: volume name runs past the reply, drive skipped\n"
                                "DEVICE D: volume name runs past the reply, drive skipped\n"
                                "DEVICE E: volume name \"..\" refused, drive skipped\n"
                                "DEVICE F: mounted to " +
                                root + "/a_b\n" +
                                "DEVICE G: mount point too long, drive skipped\n"
                                "Drive B: NOT mounted at " +
                                root + "/B: " + be_strerror(B_PERMISSION_DENIED) + "\n" +
                                "Drive F: mounted at " + root + "/a_b\n");
    EXPECT_EQ(fs.Unmounts(), std::vector<std::string>{"F:"});
}

TEST_F(Series5Mount, ShortDriveListMountsNothing) {
    device.ExpectConnect(HOST_CONNECT_REPLY + kChannel);
    Bytes list = DriveListReply("ABC");
    list.resize(33);
    device.Expect(kChannel, DriveListRequest(Id(0)), list);
    ClientRun run(5);
    ASSERT_NO_FATAL_FAILURE(FinishRun(device, run));
    EXPECT_TRUE(fs.Mounts().empty());
    EXPECT_EQ(run.Output(),
              Header(5) + "No drive of the handheld could be mounted: none was found\n");
}

// A drive information answer that comes after its one-second wait is skipped, and neither it
// nor the next drive's answer is misread.
TEST_F(Series5Mount, UnansweredDriveInformationSkipsTheDrive) {
    device.ExpectConnect(HOST_CONNECT_REPLY + kChannel);
    device.Expect(kChannel, DriveListRequest(Id(0)), DriveListReply("AC"));
    device.ExpectSilence(kChannel, DriveInfoRequest(Id(1), 0));
    device.Expect(kChannel, DriveInfoRequest(Id(2), 2), DriveInfoReply("Internal"));
    ClientRun run(5);
    ASSERT_NO_FATAL_FAILURE(FinishRun(device, run));
    EXPECT_EQ(fs.MountedDrives(), (Drives{{"C:", root + "/Internal"}}));
}

// The product ships no tavro5: without one every Series 5 mount fails with the message.
TEST_F(Series5Mount, WithoutTavro5EveryMountFails) {
    kernel_unregister_fs("tavro5");
    device.ExpectConnect(HOST_CONNECT_REPLY + kChannel);
    device.Expect(kChannel, DriveListRequest(Id(0)), DriveListReply("C"));
    device.Expect(kChannel, DriveInfoRequest(Id(1), 2), DriveInfoReply("Internal"));
    ClientRun run(5);
    ASSERT_NO_FATAL_FAILURE(FinishRun(device, run));
    std::string prefix = Header(5) + "DEVICE C: mounted to " + root + "/Internal\n" +
                         "Drive C: NOT mounted at " + root + "/Internal: ";
    EXPECT_EQ(run.Output().substr(0, prefix.size()), prefix);
    EXPECT_NE(run.Output().find("No drive of the handheld could be mounted\n"), std::string::npos)
        << run.Output();
    EXPECT_TRUE(fs.Unmounts().empty());
}

}  // namespace
