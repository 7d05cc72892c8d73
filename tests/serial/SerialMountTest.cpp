// The real add-ons over the serial link: tavro-mount mounts the drive through tavro3 when the
// link comes up over the pty, a file goes both ways through the mount while frames are
// corrupted, a cut line unmounts it, and the next connect mounts it again.
#include <gtest/gtest.h>

#include "DeviceTestSupport.h"
#include "SerialFixture.h"
#include "kernel/syscalls.h"

namespace {

const std::string kAddOn = TAVRO_CLIENT_ADDON_DIR "/tavro-mount.so";
constexpr bigtime_t kUpTimeout = 60000000;
// The line runs unthrottled: a frame and its ack take well under a millisecond, so a corrupted
// frame is sent again after a tenth of a second rather than the 115,200-baud timer's third;
// eight tries still ride out a stall of the machine.
constexpr bigtime_t kShortRetransmit = 100000;

bool WaitMounted(const std::string& where, bool mounted, bigtime_t timeout) {
    bigtime_t end = system_time() + timeout;
    for (;;) {
        nspace_id nsid;
        vnode_id root;
        if ((kernel_volume_at(where.c_str(), &nsid, &root) == B_OK) == mounted) return true;
        if (system_time() > end) return false;
        snooze(20000);
    }
}

std::string ReadAll(const std::string& path) {
    int fd = sys_open(path.c_str(), B_O_RDONLY, 0);
    if (fd < 0) return std::string("<open: ") + be_strerror(fd) + ">";
    std::string text;
    std::vector<char> buffer(4096);
    for (off_t pos = 0;;) {
        ssize_t got = sys_read(fd, pos, buffer.data(), buffer.size());
        if (got <= 0) break;
        text.append(buffer.data(), static_cast<size_t>(got));
        pos += got;
    }
    sys_close(fd);
    return text;
}

status_t WriteAll(const std::string& path, const std::string& text) {
    int fd = sys_open(path.c_str(), B_O_RDWR | B_O_CREAT | B_O_TRUNC, 0644);
    if (fd < 0) return fd;
    for (size_t at = 0; at < text.size();) {
        size_t n = std::min<size_t>(8192, text.size() - at);
        ssize_t put = sys_write(fd, static_cast<off_t>(at), text.data() + at, n);
        if (put <= 0) {
            sys_close(fd);
            return put < 0 ? static_cast<status_t>(put) : B_IO_ERROR;
        }
        at += static_cast<size_t>(put);
    }
    return sys_close(fd);
}

class SerialMount : public SerialFixture {
protected:
    void SetUp() override { kernel_set_addon_path(TAVRO_FS_ADDON_DIR); }
    void Start(std::vector<wire::LineFault> faults) {
        handheld::LineHandheldOptions device;
        device.device.family = handheld::Family::Series3;
        device.device.drives.push_back(devtest::Drive('M', "INTERNAL", folder.Path()));
        device.baud = 115200;
        device.bytesPerSecond = 0;
        device.faults = faults;
        device.retransmitAfter = kShortRetransmit;
        vantrel::HostOptions options;
        options.addOnFiles = {kAddOn};
        options.mountRoot = mounts.Path();
        vantrel::SerialLinkOptions serial;
        serial.baud = 115200;
        serial.faults = faults;
        serial.retransmitAfter = kShortRetransmit;
        StartLinked(std::move(device), options, std::move(serial));
    }

    devtest::TempFolder folder;
    devtest::TempFolder mounts;
};

TEST_F(SerialMount, FileThroughTheMountBothWaysWithCorruptedFrames) {
    // 2 % of the frames either way have a bit flipped.
    Start({wire::LineFault{wire::LineFault::Kind::Corrupt, 1, 1, 2}});
    std::string volume = mounts.Path() + "/INTERNAL";
    ASSERT_TRUE(WaitMounted(volume, true, kUpTimeout));
    constexpr size_t kSize = 256 * 1024;
    std::string content(kSize, 0);
    for (size_t i = 0; i < kSize; ++i) content[i] = static_cast<char>((i * 7919 + i / 300) & 0xFF);
    ASSERT_EQ(WriteAll(volume + "/BIG.BIN", content), B_OK);
    EXPECT_EQ(folder.Read("BIG.BIN"), content);
    folder.Write("BACK.BIN", content);
    EXPECT_EQ(ReadAll(volume + "/BACK.BIN"), content);
    wire::LinkStats host = link->Stats();
    wire::LinkStats device = handheld->Endpoint().Stats();
    EXPECT_GT(host.retransmissions + device.retransmissions, 0u);
    printf("256 KiB each way, 2%% of frames corrupted: retransmissions host %llu, handheld %llu\n",
           static_cast<unsigned long long>(host.retransmissions),
           static_cast<unsigned long long>(device.retransmissions));
}

TEST_F(SerialMount, CutLineUnmountsAndTheNextConnectMountsAgain) {
    folder.Write("A.TXT", "first");
    Start({});
    std::string volume = mounts.Path() + "/INTERNAL";
    ASSERT_TRUE(WaitMounted(volume, true, kUpTimeout));
    EXPECT_EQ(ReadAll(volume + "/A.TXT"), "first");

    handheld->SetCut(true);
    // A request notices the cut; the read fails rather than hang.
    folder.Write("B.TXT", "x");
    std::string got = ReadAll(volume + "/B.TXT");
    EXPECT_NE(got, "x");
    ASSERT_TRUE(host->WaitForLinkDown(kUpTimeout));
    EXPECT_EQ(link->LastDrop(), "no answer after 8 tries");
    EXPECT_TRUE(WaitMounted(volume, false, kUpTimeout));

    handheld->SetCut(false);
    ASSERT_TRUE(link->WaitUp(kUpTimeout));
    ASSERT_TRUE(WaitMounted(volume, true, kUpTimeout));
    EXPECT_EQ(ReadAll(volume + "/A.TXT"), "first");
    EXPECT_EQ(link->LinksMade(), 2u);
}

}  // namespace
