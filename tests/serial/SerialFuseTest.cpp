// The whole product over the serial link: a simulated handheld behind a pty, vantrel's serial
// link, tavro-mount with tavro3 or tavro5, and the FUSE bridge. Ordinary Linux programs copy
// files through the real Linux mounts while the line corrupts frames.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "DeviceTestSupport.h"
#include "SerialFixture.h"
#include "fusebridge/FuseBridge.h"
#include "kernel/syscalls.h"
#include "shell.h"

namespace {

using fusetest::mounted_at;
using fusetest::quote;
using fusetest::run;
using namespace std::chrono_literals;

constexpr bigtime_t kUpTimeout = 60000000;
// The line runs unthrottled, so a frame and its ack take well under a millisecond even under
// the sanitizers; a short timer keeps hundreds of corrupted frames from costing minutes. Eight
// tries of it still ride out a stall of the machine.
constexpr bigtime_t kShortRetransmit = 50000;

// Bytes that differ everywhere, so that a misplaced or repeated frame cannot go unnoticed.
std::string Pattern(size_t size, uint32 seed) {
    std::string bytes(size, '\0');
    uint32 x = seed;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        bytes[i] = static_cast<char>(x >> 24);
    }
    return bytes;
}

void WriteHostFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

class SerialFuse : public SerialFixture {
protected:
    void SetUp() override {
        std::string reason;
        if (!fusebridge::available(&reason)) GTEST_SKIP() << "FUSE is not available: " << reason;
        folder_ = fusetest::make_temporary_folder("tavro-serial-fuse-");
        ASSERT_FALSE(folder_.empty());
        root_ = folder_ + "/psion";
        kernel_set_addon_path(TAVRO_FS_ADDON_DIR);
        // The Series 5 service and tavro5 both convert local times. With TZ unset the C library
        // reloads its zone (freeing and copying its name) on every mktime, under a lock of its
        // own that ThreadSanitizer cannot see; the two sides meet only through the pty, which
        // it cannot see either. A zone named once, before any thread starts, is never reloaded.
        setenv("TZ", "UTC0", 1);
        tzset();
    }

    void TearDown() override {
        link.reset();
        host.reset();
        if (bridge_) fusebridge::stop();
        Stop();
        if (folder_.empty()) return;
        EXPECT_EQ(fusetest::mounts_below(folder_), "");
        if (fusetest::mounts_below(folder_).empty()) fusetest::remove_tree(folder_);
    }

    // A drive folder under the test's folder.
    handheld::DriveSetup Drive(char letter, const std::string& volume) {
        std::string path = folder_ + "/drive-" + std::string(1, letter);
        EXPECT_EQ(run("mkdir -p " + quote(path)).status, 0);
        handheld::DriveSetup drive = devtest::Drive(letter, volume, path);
        drive.capacity = 16 * 1024 * 1024;
        return drive;
    }

    void Start(handheld::Family family, uint32 baud, std::vector<handheld::DriveSetup> drives,
               std::vector<wire::LineFault> faults) {
        handheld::LineHandheldOptions device;
        device.device.family = family;
        device.device.drives = std::move(drives);
        device.baud = baud;
        device.bytesPerSecond = 0;
        device.faults = faults;
        device.retransmitAfter = kShortRetransmit;
        vantrel::HostOptions options;
        options.addOnFiles = {std::string(TAVRO_CLIENT_ADDON_DIR) + "/tavro-mount.so"};
        options.mountRoot = root_;
        ASSERT_EQ(fusebridge::start({}), B_OK);
        bridge_ = true;
        vantrel::SerialLinkOptions serial;  // no speed given: the search finds it
        serial.faults = faults;
        serial.retransmitAfter = kShortRetransmit;
        ASSERT_NO_FATAL_FAILURE(StartLinked(std::move(device), options, std::move(serial)));
        ASSERT_TRUE(link->WaitUp(kUpTimeout));
    }

    std::string folder_, root_;
    bool bridge_ = false;
};

TEST_F(SerialFuse, OneMebibyteBothWaysThroughTheLinuxMountWithCorruptedFrames) {
    // 2 % of the frames each end sends (data and acks alike) get a bit flipped.
    handheld::DriveSetup m = Drive('M', "INTERNAL");
    std::string drive = m.folder;
    Start(handheld::Family::Series3, 115200, {m},
          {wire::LineFault{wire::LineFault::Kind::Corrupt, 1, 1, 2}});
    std::string mount = root_ + "/INTERNAL";
    ASSERT_TRUE(fusetest::wait_for([&] { return mounted_at(mount); }, 60s))
        << "no Linux mount at " << mount;

    constexpr size_t kSize = 1024 * 1024;
    WriteHostFile(folder_ + "/out.bin", Pattern(kSize, 1));
    WriteHostFile(drive + "/BACK.BIN", Pattern(kSize, 2));
    auto start = std::chrono::steady_clock::now();
    auto in = run("cp " + quote(folder_ + "/out.bin") + " " + quote(mount + "/BIG.BIN") +
                      " && cmp " + quote(folder_ + "/out.bin") + " " + quote(drive + "/BIG.BIN"),
                  120);
    EXPECT_EQ(in.status, 0) << in.output;
    auto out = run("cp " + quote(mount + "/BACK.BIN") + " " + quote(folder_ + "/back.bin") +
                       " && cmp " + quote(drive + "/BACK.BIN") + " " + quote(folder_ + "/back.bin"),
                   120);
    EXPECT_EQ(out.status, 0) << out.output;
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    wire::LinkStats host = link->Stats();
    wire::LinkStats device = handheld->Endpoint().Stats();
    // Each end lost frames to the faults and sent some again; the link never dropped.
    EXPECT_GT(host.badCrcs, 0u);
    EXPECT_GT(device.badCrcs, 0u);
    EXPECT_GT(host.retransmissions, 0u);
    EXPECT_GT(device.retransmissions, 0u);
    EXPECT_EQ(link->LinksMade(), 1u);
    printf(
        "1 MiB each way through the Linux mount in %.1f s, 2%% of frames corrupted:\n"
        "  vantrel:  %llu data frames, %llu sent again, %llu corrupted frames heard\n"
        "  handheld: %llu data frames, %llu sent again, %llu corrupted frames heard\n",
        seconds, static_cast<unsigned long long>(host.dataOut),
        static_cast<unsigned long long>(host.retransmissions),
        static_cast<unsigned long long>(host.badCrcs),
        static_cast<unsigned long long>(device.dataOut),
        static_cast<unsigned long long>(device.retransmissions),
        static_cast<unsigned long long>(device.badCrcs));
}

TEST_F(SerialFuse, Series5DrivesMountThroughTheLinkAndFilesGoBothWays) {
    handheld::DriveSetup c = Drive('C', "Internal");
    handheld::DriveSetup d = Drive('D', "Disk");
    WriteHostFile(c.folder + "/Letter to Anna.txt", "Dear Anna");
    Start(handheld::Family::Series5, 115200, {c, d}, {});
    // Told apart on the wire, and the file service speaks the Series 5 framing.
    EXPECT_EQ(link->Endpoint()->Family(), wire::Variant::Series5);
    EXPECT_EQ(link->Speed(), 115200u);
    EXPECT_EQ(host->FamilyVersion(), 5);
    // Every drive in the handheld's list gets its mount, by volume name.
    std::string internal = root_ + "/Internal", disk = root_ + "/Disk";
    ASSERT_TRUE(fusetest::wait_for([&] { return mounted_at(internal) && mounted_at(disk); }, 60s))
        << fusetest::mounts_below(folder_);
    auto listed =
        run("ls " + quote(internal) + " && cat " + quote(internal + "/Letter to Anna.txt"));
    EXPECT_EQ(listed.status, 0) << listed.output;
    EXPECT_EQ(listed.output, "Letter to Anna.txt\nDear Anna");

    // 200 KiB in under a long name, and out again.
    WriteHostFile(folder_ + "/in.bin", Pattern(200 * 1024, 3));
    auto copied =
        run("cp " + quote(folder_ + "/in.bin") + " " + quote(disk + "/Data of the day.bin") +
                " && cmp " + quote(folder_ + "/in.bin") + " " +
                quote(d.folder + "/Data of the day.bin") + " && cp " +
                quote(disk + "/Data of the day.bin") + " " + quote(folder_ + "/out.bin") +
                " && cmp " + quote(folder_ + "/in.bin") + " " + quote(folder_ + "/out.bin"),
            120);
    EXPECT_EQ(copied.status, 0) << copied.output;
    EXPECT_EQ(link->LinksMade(), 1u);
}

}  // namespace
