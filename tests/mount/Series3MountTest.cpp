// The Series 3 start and mount sequence, and the unmount at link-down, against a scripted
// device: exact request bytes, printed lines, debug log lines and mount blocks.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "ClientHarness.h"
#include "RecordingFs.h"
#include "ScriptedDevice.h"
#include "Series3Bytes.h"
#include "TempDir.h"
#include "kernel/syscalls.h"
#include "platform/HostProtocol.h"

namespace {

constexpr uint16 kChannel = 7;
constexpr uint16 kHandle = 0x0123;

const Bytes kOpenDriveList = {0x00, 0x00, 0x02, 0x00, 0x50, 0x00};
const Bytes kDeviceRead = Bytes{0x08, 0x00, 0x02, 0x00} + Word(kHandle);
const Bytes kCloseDriveList = Bytes{0x02, 0x00, 0x02, 0x00} + Word(kHandle);

std::string Ok() { return be_strerror(B_OK); }

bool IsDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

class Series3Mount : public testing::Test {
protected:
    void SetUp() override {
        AddOn& addOn = AddOn::Get();
        ASSERT_NE(addOn.handle, nullptr) << addOn.error;
        ASSERT_EQ(addOn.initialise(), 0);
        root = dir / "a/b/psion";
        SetRoot(root);
    }

    void SetRoot(const std::string& path) {
        ASSERT_LT(path.size(), sizeof(AddOn::Get().configs->mountPoint));
        strcpy(AddOn::Get().configs->mountPoint, path.c_str());
    }

    void EnableDebug() {
        logFile = dir / "rfsv-client.log";
        CONFIG_VAR* config = AddOn::Get().configs;
        config->debug = 1;
        strcpy(config->debugFile, logFile.c_str());
    }

    // Connect, FOPEN and the drives named (device, volume), then the end of the list and
    // FCLOSE.
    void ScriptDrives(const std::vector<std::pair<std::string, std::string>>& drives) {
        ScriptOpen();
        for (const auto& [name, volume] : drives) {
            ScriptDrive(name, DeviceInfoReply(volume));
        }
        ScriptListEnd();
    }

    // The connection and the FOPEN of the drive list.
    void ScriptOpen() {
        device.ExpectConnect(HOST_CONNECT_REPLY + kChannel);
        device.Expect(kChannel, kOpenDriveList, Reply(0, Word(kHandle)));
    }

    // FDEVICEREAD naming `name`, then its FDEVICEINFO answered with `info`.
    void ScriptDrive(const std::string& name, const Bytes& info) {
        device.Expect(kChannel, kDeviceRead, DeviceReadReply(name));
        device.Expect(kChannel, DeviceInfoRequest(name), info);
    }

    // The end of the drive list, and FCLOSE.
    void ScriptListEnd() {
        device.Expect(kChannel, kDeviceRead, Reply(-1));
        device.Expect(kChannel, kCloseDriveList, Reply(0));
    }

    // Output before the drives: the header and the start of the device's file server.
    std::string Start() { return Header(3, 0) + RfsvStart(); }

    // A drive listed and about to be mounted at `volume` below the mount root.
    std::string Listed(const std::string& name, const std::string& volume) {
        return "Device: " + name + "\nDEVICE " + name + " should be mounted to " + root + "/" +
               volume + "\n";
    }

    std::string Mounted(const std::string& name, const std::string& volume) {
        return "Drive " + name + " mounted at " + root + "/" + volume + "\n";
    }

    void ExpectDeviceClean() {
        auto errors = device.Finish();
        EXPECT_TRUE(errors.empty()) << testing::PrintToString(errors);
    }

    // Lets the client work through the script and `quiet` µs more, in which it must send
    // nothing, then ends the link: the client ends well and the device saw exactly its script.
    void FinishQuietly(ClientRun& run, bigtime_t quiet) {
        ASSERT_TRUE(device.WaitUntilDone(15000000));
        snooze(quiet);
        run.LinkDown();
        EXPECT_EQ(run.Wait(), 0);
        ExpectDeviceClean();
    }

    std::string Header(int version, int debug) {
        return "Start mount -- version " + std::to_string(version) +
               "\nconfig->debug set to: " + std::to_string(debug) + "\n";
    }

    std::string RfsvStart() {
        return "RFSV start " + std::to_string(device.ReplyPort()) + ", SYS$RFSV.*\n";
    }

    TempDir dir;
    std::string root;
    std::string logFile;
    RecordingFs fs;
    ScriptedDevice device{ScriptedDevice::Host()};
};

TEST_F(Series3Mount, ThreeDrivesMountedAndUnmountedAtLinkDown) {
    ScriptDrives({{"A:", "DISK_A"}, {"B:", "DISK_B"}, {"M:", "INTERNAL"}});
    ClientRun run(3);
    ASSERT_TRUE(device.WaitUntilDone(15000000));

    // All drives are listed, then mounted in the order the device reported them. A mount is
    // seen as it starts: wait until all three have finished too.
    std::vector<SeenMount> mounts;
    for (int i = 0; i < 500 && ((mounts = fs.Mounts()).size() < 3 || fs.LiveVolumes() < 3); i++) {
        snooze(10000);
    }
    ASSERT_EQ(mounts.size(), 3u);
    const char* devices[] = {"A:", "B:", "M:"};
    const char* volumes[] = {"DISK_A", "DISK_B", "INTERNAL"};
    port_id replyPort = device.ReplyPort();
    for (int i = 0; i < 3; i++) {
        const mnt& block = mounts[i].block;
        EXPECT_EQ(mounts[i].fileSystem, "tavro3");
        EXPECT_EQ(mounts[i].length, 408u);
        EXPECT_EQ(block.mounted, 0);  // set in the client's record only after mount()
        EXPECT_EQ(block.writePort, device.RequestPort());
        EXPECT_EQ(block.readPort, replyPort);
        EXPECT_EQ(block.channel, kChannel);
        EXPECT_STREQ(block.device, devices[i]);
        EXPECT_EQ(std::string(block.path), root + "/" + volumes[i]);
        EXPECT_STREQ(block.debugFile, "");
        EXPECT_TRUE(IsDirectory(block.path)) << block.path;
        EXPECT_EQ(block.sem, mounts[0].block.sem);
        int32 count = -1;
        EXPECT_EQ(get_sem_count(block.sem, &count), B_OK);
        EXPECT_EQ(count, 1);
    }
    EXPECT_EQ(fs.LiveVolumes(), 3);
    EXPECT_GE(find_port("Tavro-Read"), 0);

    run.LinkDown({0x1234, 0x60001});  // other thread messages are read and dropped
    EXPECT_EQ(run.Wait(), 0);
    EXPECT_EQ(fs.Unmounts(), (std::vector<std::string>{"A:", "B:", "M:"}));
    EXPECT_EQ(fs.LiveVolumes(), 0);
    // The reply port and the connection's semaphore are gone, and so are the mount points the
    // client made; the mount root stays.
    EXPECT_LT(find_port("Tavro-Read"), 0);
    EXPECT_EQ(write_port(replyPort, 1, nullptr, 0), B_BAD_PORT_ID);
    EXPECT_EQ(acquire_sem(mounts[0].block.sem), B_BAD_SEM_ID);
    EXPECT_FALSE(std::filesystem::exists(root + "/INTERNAL"));
    EXPECT_FALSE(std::filesystem::exists(root + "/DISK_A"));
    EXPECT_TRUE(IsDirectory(root));

    EXPECT_EQ(run.Output(), Start() + Listed("A:", "DISK_A") + Listed("B:", "DISK_B") +
                                Listed("M:", "INTERNAL") + Mounted("A:", "DISK_A") +
                                Mounted("B:", "DISK_B") + Mounted("M:", "INTERNAL"));
    EXPECT_FALSE(std::filesystem::exists(dir / "rfsv-client.log"));
    ExpectDeviceClean();
}

TEST_F(Series3Mount, DebugLogAndOutputLines) {
    EnableDebug();
    SetRoot(root + "/");  // a trailing "/" gives no doubled "/"
    ScriptDrives({{"M:", "INTERNAL"}});
    ClientRun run(3);
    ASSERT_NO_FATAL_FAILURE(FinishRun(device, run));

    auto mounts = fs.Mounts();
    ASSERT_EQ(mounts.size(), 1u);
    EXPECT_EQ(std::string(mounts[0].block.path), root + "/INTERNAL");
    EXPECT_EQ(std::string(mounts[0].block.debugFile), logFile);

    const std::string p = "RFSV-Client: ";
    EXPECT_EQ(run.Output(),
              Header(3, 1) + p + "Try to start the PSION-SYS$RFSV\n" + RfsvStart() + p +
                  "PSION-Server is running!\n" + p + "FOPEN\n" + p + "<<== Bytes sent:\n" + p +
                  "==>> Bytes read:\n" + p + "FDEVICEREAD\n" + p + "<<== Bytes sent:\n" + p +
                  "==>> Bytes read:\n"
                  "Device: M:\n"
                  "DEVICE M: should be mounted to " +
                  root + "/INTERNAL\n" + p + "FDEVICEREAD\n" + p + "<<== Bytes sent:\n" + p +
                  "==>> Bytes read:\n" + p + "FCLOSE\n" + p + "<<== Bytes sent:\n" + p +
                  "==>> Bytes read:\n"
                  "Drive M: mounted at " +
                  root + "/INTERNAL\n" + p + "Received PSION_DISC\n" + p + "Unmounting " + root +
                  "/INTERNAL -> " + Ok() + "\n");

    auto lines = SplitLines(ReadFile(logFile));
    std::string deviceRead = Hex(DeviceReadReply("M:"));
    std::string deviceReadAscii;
    for (uint8 byte : DeviceReadReply("M:")) {
        deviceReadAscii += std::string(" ") + (byte < 0x20 ? '.' : static_cast<char>(byte)) + " ";
    }
    std::vector<std::string> expected = {
        "<startup>",
        p + "Try to start the PSION-SYS$RFSV",
        p + "PSION-Server is running!",
        p + "FOPEN",
        p + "<<== Bytes sent:",
        "    HEX: 00 00 02 00 50 00 ",
        "  ASCII:  .  .  .  .  P  . ",
        p + "==>> Bytes read:",
        "    HEX: 2a 00 04 00 00 00 23 01 ",
        "  ASCII:  *  .  .  .  .  .  #  . ",
        p + "FDEVICEREAD",
        p + "<<== Bytes sent:",
        "    HEX: 08 00 02 00 23 01 ",
        "  ASCII:  .  .  .  .  #  . ",
        p + "==>> Bytes read:",
        "    HEX: " + deviceRead,
        "  ASCII: " + deviceReadAscii,
        p + "FDEVICEREAD",
        p + "<<== Bytes sent:",
        "    HEX: 08 00 02 00 23 01 ",
        "  ASCII:  .  .  .  .  #  . ",
        p + "==>> Bytes read:",
        "    HEX: 2a 00 02 00 ff ff ",
        "  ASCII:  *  .  .  .  \xff  \xff ",
        p + "FCLOSE",
        p + "<<== Bytes sent:",
        "    HEX: 02 00 02 00 23 01 ",
        "  ASCII:  .  .  .  .  #  . ",
        p + "==>> Bytes read:",
        "    HEX: 2a 00 02 00 00 00 ",
        "  ASCII:  *  .  .  .  .  . ",
        p + "Received PSION_DISC",
        p + "Unmounting " + root + "/INTERNAL -> " + Ok(),
        "<closed>",
    };
    ASSERT_EQ(lines.size(), expected.size()) << ReadFile(logFile);
    EXPECT_TRUE(IsStamp(lines.front(), p + "Startup! Timestamp: ")) << lines.front();
    EXPECT_TRUE(IsStamp(lines.back(), p + "Closed! Timestamp: ")) << lines.back();
    for (size_t i = 1; i + 1 < lines.size(); i++) {
        EXPECT_EQ(lines[i], expected[i]) << "line " << i;
    }
}

TEST_F(Series3Mount, VolumeNamesShapeTheMountPoints) {
    // Same volume name twice (the second is skipped: its mount point is taken), an empty volume
    // name (a mount point named after the drive's letter, never the mount root itself), a
    // failing mount (reported as not mounted, never unmounted, its directory removed).
    ScriptDrives({{"A:", "SAME"}, {"B:", "SAME"}, {"C:", ""}, {"D:", "BROKEN"}});
    fs.FailMount("D:", B_BAD_VALUE);
    ClientRun run(0);  // 0 and negative versions are a Series 3 too
    ASSERT_NO_FATAL_FAILURE(FinishRun(device, run));

    EXPECT_EQ(fs.MountedDrives(),
              (Drives{{"A:", root + "/SAME"}, {"C:", root + "/C"}, {"D:", root + "/BROKEN"}}));
    EXPECT_EQ(fs.Unmounts(), (std::vector<std::string>{"A:", "C:"}));
    auto lines = run.OutputLines();
    ASSERT_EQ(lines.size(), 14u) << run.Output();
    EXPECT_EQ(lines[4], "DEVICE A: should be mounted to " + root + "/SAME");
    EXPECT_EQ(lines[6],
              "DEVICE B: skipped: its mount point " + root + "/SAME is taken by drive A:");
    EXPECT_EQ(lines[8], "DEVICE C: should be mounted to " + root + "/C");
    EXPECT_EQ(lines[11], "Drive A: mounted at " + root + "/SAME");
    EXPECT_EQ(lines[12], "Drive C: mounted at " + root + "/C");
    EXPECT_EQ(lines[13], "Drive D: NOT mounted at " + root +
                             "/BROKEN: " + std::string(be_strerror(B_BAD_VALUE)));
    EXPECT_FALSE(std::filesystem::exists(root + "/BROKEN"));
}

// A mount root that would put the drives over the system's own folders is never used, even
// when it reaches the client's record (the settings view stores "/" as empty).
class Series3BadRoot : public Series3Mount, public testing::WithParamInterface<const char*> {};

TEST_P(Series3BadRoot, MountsNothing) {
    SetRoot(GetParam());
    ScriptDrives({{"M:", "INTERNAL"}});
    ClientRun run(3);
    ASSERT_NO_FATAL_FAILURE(FinishRun(device, run));
    EXPECT_TRUE(fs.Mounts().empty());
    EXPECT_NE(run.Output().find("DEVICE M: skipped: the mount root is not an absolute folder"),
              std::string::npos)
        << run.Output();
    EXPECT_NE(run.Output().find("No drive of the handheld could be mounted"), std::string::npos)
        << run.Output();
}

INSTANTIATE_TEST_SUITE_P(Roots, Series3BadRoot, testing::Values("", "/", "//", "relative/root"));

TEST_F(Series3Mount, EmptyDeviceListStillClosesTheHandle) {
    ScriptOpen();
    device.Expect(kChannel, kDeviceRead, Reply(-33));
    device.Expect(kChannel, kCloseDriveList, Reply(0));
    ClientRun run(3);
    ASSERT_NO_FATAL_FAILURE(FinishRun(device, run));
    EXPECT_TRUE(fs.Mounts().empty());
    EXPECT_EQ(run.Output(),
              Start() + "No drive of the handheld could be mounted: none was found\n");
    EXPECT_TRUE(IsDirectory(root));  // every component of the mount root was made
}

TEST_F(Series3Mount, RefusedFopenCancelsTheMount) {
    EnableDebug();
    device.ExpectConnect(HOST_CONNECT_REPLY + kChannel);
    device.Expect(kChannel, kOpenDriveList, Reply(-41));
    ClientRun run(3);
    ASSERT_NO_FATAL_FAILURE(FinishRun(device, run));  // no FCLOSE, nothing more
    EXPECT_TRUE(fs.Mounts().empty());
    std::string log = ReadFile(logFile);
    EXPECT_NE(log.find("RFSV-Client: ==>> Bytes read:\n    HEX: 2a 00 02 00 d7 ff \n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("RFSV-Client: Error in OPENDEV! Mount canceled!\n\n"), std::string::npos)
        << log;
}

TEST_F(Series3Mount, RefusedDeviceInfoSkipsTheDrive) {
    ScriptOpen();
    ScriptDrive("A:", Reply(-41));
    ScriptDrive("M:", DeviceInfoReply("INTERNAL"));
    ScriptListEnd();
    ClientRun run(3);
    ASSERT_NO_FATAL_FAILURE(FinishRun(device, run));
    EXPECT_EQ(fs.MountedDrives(), (Drives{{"M:", root + "/INTERNAL"}}));
    EXPECT_EQ(run.Output(), Start() + "Device: A:\nDEVICE A: not available!\n" +
                                Listed("M:", "INTERNAL") + Mounted("M:", "INTERNAL"));
}

TEST_F(Series3Mount, AnswerOfAnotherKindToTheConnectRequest) {
    device.ExpectConnect(HOST_CHANNEL_PACKET + 5);
    ClientRun run(3);
    ASSERT_NO_FATAL_FAILURE(FinishQuietly(run, 200000));  // the client sends nothing more
    EXPECT_TRUE(fs.Mounts().empty());
    EXPECT_EQ(run.Output(), Start());
    EXPECT_LT(find_port("Tavro-Read"), 0);
}

TEST(Series3MountPorts, NoWritePsionEndsTheThreadWithMinusOne) {
    AddOn& addOn = AddOn::Get();
    ASSERT_NE(addOn.handle, nullptr) << addOn.error;
    addOn.initialise();
    TempDir dir;
    strcpy(addOn.configs->mountPoint, (dir / "psion").c_str());
    ClientRun run(3);
    EXPECT_EQ(run.Wait(), -1);  // RunClient never returned: no link-down was needed
    EXPECT_EQ(run.Output(), "Start mount -- version 3\nconfig->debug set to: 0\n");
    EXPECT_LT(find_port("Tavro-Read"), 0);
}

// The untrusted replies: names that do not fit or do not end, names that would leave the mount
// root, a reply too short for its status, a device list that never ends.
TEST_F(Series3Mount, MalformedNamesAreRefusedOrMadeSafe) {
    ScriptOpen();
    // A device name whose NUL was not received.
    Bytes unterminated = DeviceReadReply("X:");
    unterminated.pop_back();
    device.Expect(kChannel, kDeviceRead, unterminated);
    // A device name running to the end of the 128-byte buffer and beyond.
    device.Expect(kChannel, kDeviceRead, DeviceReadReply(std::string(100, 'Y')));
    ScriptDrive("A:", DeviceInfoReply(".."));
    ScriptDrive("B:", DeviceInfoReply("../../etc"));
    ScriptDrive("C:", DeviceInfoReply(std::string(100, 'V')));
    Bytes noEnd = DeviceInfoReply("DISK");
    noEnd.pop_back();
    ScriptDrive("D:", noEnd);
    ScriptDrive("E:", Bytes{0x11, 0x00, 0x00});  // no status
    ScriptDrive("F:", DeviceInfoReply("."));
    ScriptListEnd();
    ClientRun run(3);
    ASSERT_NO_FATAL_FAILURE(FinishRun(device, run));

    EXPECT_EQ(fs.MountedDrives(), (Drives{{"B:", root + "/.._.._etc"}}));
    EXPECT_EQ(run.Output(), Start() +
                                "Bad device name in FDEVICEREAD reply, drive skipped\n"
                                "Bad device name in FDEVICEREAD reply, drive skipped\n"
                                "Device: A:\n"
                                "DEVICE A: volume name \"..\" refused, drive skipped\n" +
                                Listed("B:", ".._.._etc") +
                                "Device: C:\n"
                                "DEVICE C: mount point too long, drive skipped\n"
                                "Device: D:\n"
                                "DEVICE D: volume name not terminated, drive skipped\n"
                                "Device: E:\n"
                                "Device: F:\n"
                                "DEVICE F: volume name \".\" refused, drive skipped\n" +
                                Mounted("B:", ".._.._etc"));
    // Nothing was made outside the mount root.
    std::vector<std::string> made;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "a/b")) {
        made.push_back(entry.path().filename());
    }
    EXPECT_EQ(made, std::vector<std::string>{"psion"});
}

TEST_F(Series3Mount, ADeviceListThatNeverEndsStopsAfterTwentySixDrives) {
    ScriptOpen();
    for (int i = 0; i < 26; i++) {
        ScriptDrive("A:", Reply(-41));
    }
    device.Expect(kChannel, kCloseDriveList, Reply(0));
    ClientRun run(3);
    ASSERT_NO_FATAL_FAILURE(FinishRun(device, run));
    EXPECT_TRUE(fs.Mounts().empty());
}

// A device that answers one request twice: the spare answer must not be taken for the answer
// to the next request.
TEST_F(Series3Mount, ASpareReplyIsNotTakenForTheNextAnswer) {
    EnableDebug();
    ScriptedDevice::Step fopen;
    fopen.code = host_channel_packet(kChannel);
    fopen.request = kOpenDriveList;
    fopen.replyCode = fopen.code;
    fopen.replies = {Reply(0, Word(kHandle)), Reply(-1)};
    device.ExpectConnect(HOST_CONNECT_REPLY + kChannel);
    device.Add(fopen);
    ScriptDrive("M:", DeviceInfoReply("INTERNAL"));
    ScriptListEnd();
    ClientRun run(3);
    ASSERT_NO_FATAL_FAILURE(FinishRun(device, run));
    ASSERT_EQ(fs.Mounts().size(), 1u);
}

// The unanswered requests: each costs the client its reply wait, here shortened to a second
// through the environment, as the add-on reads it when a run starts.
class Series3Silence : public Series3Mount {
protected:
    void SetUp() override {
        Series3Mount::SetUp();
        setenv("TAVRO_MOUNT_REPLY_MS", "1000", 1);
    }
    void TearDown() override { unsetenv("TAVRO_MOUNT_REPLY_MS"); }
};

TEST_F(Series3Silence, NoConnectReplyMountsNothingButWaitsForLinkDown) {
    device.ExpectConnect(0, false);
    ClientRun run(3);
    ASSERT_NO_FATAL_FAILURE(FinishQuietly(run, 2500000));  // past the wait: no FOPEN
    EXPECT_TRUE(fs.Mounts().empty());
    EXPECT_LT(find_port("Tavro-Read"), 0);
}

TEST_F(Series3Silence, UnansweredFopenEndsTheSequenceQuietly) {
    EnableDebug();
    device.ExpectConnect(HOST_CONNECT_REPLY + kChannel);
    device.ExpectSilence(kChannel, kOpenDriveList);
    ClientRun run(3);
    ASSERT_NO_FATAL_FAILURE(FinishQuietly(run, 2500000));  // past the wait: no FCLOSE
    EXPECT_EQ(ReadFile(logFile).find("OPENDEV"), std::string::npos);
}

// At the built-in wait: ten seconds before the list is taken as ended.
TEST_F(Series3Mount, UnansweredDeviceReadEndsTheListButMountsWhatWasFound) {
    ScriptOpen();
    ScriptDrive("M:", DeviceInfoReply("INTERNAL"));
    device.ExpectSilence(kChannel, kDeviceRead);
    device.Expect(kChannel, kCloseDriveList, Reply(0));
    bigtime_t start = system_time();
    ClientRun run(3);
    ASSERT_TRUE(device.WaitUntilDone(20000000));
    EXPECT_GE(system_time() - start, 10000000);
    ASSERT_NO_FATAL_FAILURE(FinishRun(device, run));
    ASSERT_EQ(fs.Mounts().size(), 1u);
    EXPECT_EQ(fs.Unmounts(), std::vector<std::string>{"M:"});
}

TEST_F(Series3Silence, UnansweredDeviceInfoSkipsTheDriveWithoutAMessage) {
    ScriptOpen();
    device.Expect(kChannel, kDeviceRead, DeviceReadReply("A:"));
    device.ExpectSilence(kChannel, DeviceInfoRequest("A:"));
    ScriptDrive("M:", DeviceInfoReply("INTERNAL"));
    ScriptListEnd();
    bigtime_t start = system_time();
    ClientRun run(3);
    ASSERT_TRUE(device.WaitUntilDone(15000000));
    EXPECT_LT(system_time() - start, 9000000);  // the shortened wait, not the built-in one
    ASSERT_NO_FATAL_FAILURE(FinishRun(device, run));
    EXPECT_EQ(run.Output(),
              Start() + "Device: A:\n" + Listed("M:", "INTERNAL") + Mounted("M:", "INTERNAL"));
}

}  // namespace
