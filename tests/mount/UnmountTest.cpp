// Link-down: a busy volume is retried in passes with pauses of 1, 2, 3 ... seconds, and the
// reply port goes only after the last unmount.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "ClientHarness.h"
#include "RecordingFs.h"
#include "ScriptedDevice.h"
#include "Series3Bytes.h"
#include "TempDir.h"
#include "kernel/syscalls.h"
#include "platform/HostProtocol.h"

namespace {

constexpr uint16 kChannel = 9;
constexpr uint16 kHandle = 4;

TEST(Unmount, BusyVolumeIsUnmountedAtTheThirdPass) {
    AddOn& addOn = AddOn::Get();
    ASSERT_NE(addOn.handle, nullptr) << addOn.error;
    addOn.initialise();
    TempDir dir;
    std::string log = dir / "client.log";
    strcpy(addOn.configs->mountPoint, (dir / "psion").c_str());
    addOn.configs->debug = 1;
    strcpy(addOn.configs->debugFile, log.c_str());
    RecordingFs fs;
    ScriptedDevice device{ScriptedDevice::Host()};
    device.ExpectConnect(HOST_CONNECT_REPLY + kChannel);
    device.Expect(kChannel, {0x00, 0x00, 0x02, 0x00, 0x50, 0x00}, Reply(0, Word(kHandle)));
    for (const char* name : {"A:", "M:"}) {
        device.Expect(kChannel, Bytes{0x08, 0x00, 0x02, 0x00} + Word(kHandle),
                      DeviceReadReply(name));
        device.Expect(kChannel, DeviceInfoRequest(name),
                      DeviceInfoReply(name[0] == 'A' ? "DISK" : "INTERNAL"));
    }
    device.Expect(kChannel, Bytes{0x08, 0x00, 0x02, 0x00} + Word(kHandle), Reply(-1));
    device.Expect(kChannel, Bytes{0x02, 0x00, 0x02, 0x00} + Word(kHandle), Reply(0));

    ClientRun run(3);
    ASSERT_TRUE(device.WaitUntilDone(15000000));
    std::string busy = dir / "psion/INTERNAL";
    int fd = -1;
    for (int i = 0; i < 300 && (fd = sys_opendir(busy.c_str())) < 0; i++) {
        snooze(10000);  // until the volume is mounted
    }
    ASSERT_GE(fd, 0) << be_strerror(fd);

    bigtime_t down = system_time();
    run.LinkDown();
    // Passes at about 0 s, 1 s and 3 s: let the volume go between the second and the third.
    snooze(2000000);
    EXPECT_GE(find_port("Tavro-Read"), 0);  // the port stays while a volume is mounted
    EXPECT_EQ(sys_closedir(fd), B_OK);
    EXPECT_EQ(run.Wait(), 0);
    bigtime_t took = system_time() - down;
    EXPECT_GE(took, 3000000);  // 1 + 2 seconds of pauses; none after the pass that succeeded
    EXPECT_LT(took, 9000000);
    EXPECT_EQ(fs.Unmounts(), (std::vector<std::string>{"A:", "M:"}));
    EXPECT_LT(find_port("Tavro-Read"), 0);
    EXPECT_TRUE(device.Finish().empty());

    std::string p = "RFSV-Client: ";
    std::string busyText = p + "Unmounting " + busy + " -> " + be_strerror(B_BUSY);
    std::string okText = be_strerror(B_OK);
    auto lines = SplitLines(ReadFile(log));
    std::vector<std::string> tail(lines.end() - 6, lines.end() - 1);
    EXPECT_EQ(tail, (std::vector<std::string>{
                        p + "Received PSION_DISC",
                        p + "Unmounting " + (dir / "psion/DISK") + " -> " + okText,
                        busyText,
                        busyText,
                        p + "Unmounting " + busy + " -> " + okText,
                    }));
    EXPECT_EQ(lines.back().rfind(p + "Closed! Timestamp: ", 0), 0u) << lines.back();
}

TEST(AddOnExports, InfoTextsAndConfigurationDefaults) {
    AddOn& addOn = AddOn::Get();
    ASSERT_NE(addOn.handle, nullptr) << addOn.error;
    ASSERT_NE(addOn.configs, nullptr);
    memset(addOn.configs, 'z', sizeof(*addOn.configs));
    EXPECT_EQ(addOn.initialise(), 0);
    EXPECT_EQ(addOn.configs->debug, 0);
    EXPECT_STREQ(addOn.configs->debugFile, "/var/log/rfsv-client.log");
    EXPECT_STREQ(addOn.configs->mountPoint, "/mnt/psion");
    // Only the texts and their terminators are written.
    EXPECT_EQ(addOn.configs->debugFile[25], 'z');
    EXPECT_EQ(addOn.configs->mountPoint[11], 'z');

    ASSERT_NE(addOn.infoVersion, nullptr);
    EXPECT_EQ(std::string(addOn.infoVersion).rfind("1.0.0", 0), 0u);
    EXPECT_STREQ(addOn.infoLines[0], "RFSV = Remote File SerVice");
    EXPECT_STREQ(addOn.infoLines[1], "used to connect the BeOS to the");
    EXPECT_STREQ(addOn.infoLines[2], "PSION Filesystem (Beries 3 or 5)");
}

}  // namespace
