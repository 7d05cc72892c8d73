// The product end to end: vantrel's link with a simulated Series 3 whose drive holds a copy of
// the sample files, tavro-mount and tavro3 as add-ons, and the FUSE bridge. Ordinary Linux
// programs work on the drive's mount.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "LinkedMountTest.h"
#include "platform/Series3Wire.h"
#include "shell.h"

namespace {

using fusetest::mounts_below;
using fusetest::quote;
using fusetest::run;
using fusetest::wait_for;
using namespace std::chrono_literals;

class EndToEnd : public LinkedMountTest {
protected:
    EndToEnd() : LinkedMountTest("tavro-e2e-") {}

    void Arrange() override {
        folder_ = linked_.folder();
        vantrel::DriveSetup& drive = linked_.AddDrive('M', "INTERNAL", "drive");
        drive.capacity = 16 * 1024 * 1024;
        drive_ = drive.folder;
        mount_ = linked_.mount("INTERNAL");
        auto copied =
            run("cp -r " + quote(std::string(TAVRO_SAMPLES_DIR) + "/.") + " " + quote(drive_));
        ASSERT_EQ(copied.status, 0) << copied.output;
        PrepareDrive();
        linked_.options.traceInMemory = true;
        linked_.options.speed = Speed();
        ASSERT_EQ(linked_.Start(), "");
        host_ = &linked_.host();
    }

    // After the host stops, nothing of it is left in the mount table.
    void TearDown() override { EXPECT_EQ(linked_.Stop(), ""); }

    virtual void PrepareDrive() {}
    virtual vantrel::LinkSpeed Speed() { return vantrel::LinkSpeed::Unlimited(); }

    fusetest::Result in_mount(const std::string& command, int seconds = 60) {
        return run("cd " + quote(mount_) + " && " + command, seconds);
    }

    std::string folder_, drive_, mount_;
    vantrel::HostLink* host_ = nullptr;
};

TEST_F(EndToEnd, TheSamplesListStatAndCopyOutUnchanged) {
    auto listed = in_mount("ls -l && stat -c '%s %n' STORY.TXT");
    ASSERT_EQ(listed.status, 0) << listed.output;
    EXPECT_NE(listed.output.find("README.TXT"), std::string::npos) << listed.output;
    auto size = run("stat -c '%s %n' " + quote(drive_ + "/STORY.TXT") + " | cut -d' ' -f1");
    EXPECT_NE(listed.output.find(size.output.substr(0, size.output.size() - 1) + " STORY.TXT"),
              std::string::npos)
        << listed.output;

    auto out = run("cp -r " + quote(mount_) + " " + quote(folder_ + "/out") + " && diff -r " +
                   quote(TAVRO_SAMPLES_DIR) + " " + quote(folder_ + "/out"));
    EXPECT_EQ(out.status, 0) << out.output;

    auto modes = in_mount("stat -c %A OPL");
    EXPECT_EQ(modes.output.substr(0, 4), "drwx") << modes.output;

    auto found = in_mount("find . -type f | sort | head -3 && find . -name '*.OPL' | sort");
    EXPECT_EQ(found.status, 0) << found.output;
    EXPECT_NE(found.output.find("./OPL/COUNT.OPL\n./OPL/HELLO.OPL\n"), std::string::npos)
        << found.output;
}

TEST_F(EndToEnd, ATreeCopiedInComesBackOutEqual) {
    auto made =
        run("mkdir -p " + quote(folder_ + "/tree/SUB/DEEP") + " && cd " + quote(folder_ + "/tree") +
            " && head -c 5000 /dev/urandom > DATA.BIN && printf hello > SUB/A.TXT && "
            "seq 1 3000 > SUB/DEEP/NUMBERS.TXT && : > EMPTY.TXT");
    ASSERT_EQ(made.status, 0) << made.output;
    auto in = run("cp -r " + quote(folder_ + "/tree") + " " + quote(mount_ + "/TREE"));
    ASSERT_EQ(in.status, 0) << in.output;
    auto back = run("cp -r " + quote(mount_ + "/TREE") + " " + quote(folder_ + "/back") +
                    " && diff -r " + quote(folder_ + "/tree") + " " + quote(folder_ + "/back") +
                    " && diff -r " + quote(folder_ + "/tree") + " " + quote(mount_ + "/TREE"));
    EXPECT_EQ(back.status, 0) << back.output;
    // The device holds what was copied.
    auto device = run("diff -r " + quote(folder_ + "/tree") + " " + quote(drive_ + "/TREE"));
    EXPECT_EQ(device.status, 0) << device.output;
}

TEST_F(EndToEnd, NamespaceChangesWithCoreutils) {
    auto changed = in_mount(
        "mkdir WORK && mkdir WORK/INNER && cp NOTES.TXT WORK/N1.TXT && mv WORK/N1.TXT "
        "WORK/N2.TXT && mv WORK/N2.TXT WORK/INNER/N3.TXT && cp README.TXT WORK/GONE.TXT && "
        "rm WORK/GONE.TXT && touch -m -d '2003-04-05 06:07:08 UTC' WORK/INNER/N3.TXT && "
        "stat -c %Y WORK/INNER/N3.TXT && find WORK | sort");
    ASSERT_EQ(changed.status, 0) << changed.output;
    EXPECT_EQ(changed.output, "1049522828\nWORK\nWORK/INNER\nWORK/INNER/N3.TXT\n");
    auto same =
        run("cmp " + quote(drive_ + "/NOTES.TXT") + " " + quote(drive_ + "/WORK/INNER/N3.TXT"));
    EXPECT_EQ(same.status, 0) << same.output;

    auto refused = in_mount("rmdir WORK");
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.output.find("Directory not empty"), std::string::npos) << refused.output;
    auto removed = in_mount("rm WORK/INNER/N3.TXT && rmdir WORK/INNER WORK && ls");
    ASSERT_EQ(removed.status, 0) << removed.output;
    EXPECT_EQ(removed.output.find("WORK"), std::string::npos) << removed.output;
    auto gone = run("ls " + quote(drive_));
    EXPECT_EQ(gone.output.find("WORK"), std::string::npos) << gone.output;
}

TEST_F(EndToEnd, TarAndRsyncWorkBothWays) {
    auto tarred = fusetest::tar_copy(mount_, mount_ + "/UNTAR", folder_ + "/s.tar");
    EXPECT_EQ(tarred.status, 0) << tarred.output;

    // A Series 3 takes 8.3 names only: no temporary files, no directory times.
    std::string rsync = "rsync -rt --inplace --omit-dir-times";
    // Sizes and times came across, so a second run has nothing to send.
    auto synced = fusetest::rsync_twice(rsync, TAVRO_SAMPLES_DIR, mount_ + "/SYNC");
    ASSERT_EQ(synced.status, 0) << synced.output;
    EXPECT_EQ(synced.output, "");
    auto back = run(rsync + " " + quote(mount_ + "/SYNC/") + " " + quote(folder_ + "/synced/") +
                    " && diff -r " + quote(TAVRO_SAMPLES_DIR) + " " + quote(folder_ + "/synced"));
    EXPECT_EQ(back.status, 0) << back.output;
}

TEST_F(EndToEnd, PythonOsAndShutil) {
    std::string script =
        "import os, shutil, sys\n"
        "m = sys.argv[1]\n"
        "assert 'README.TXT' in os.listdir(m)\n"
        "shutil.copytree(os.path.join(m, 'OPL'), os.path.join(m, 'OPLCOPY'))\n"
        "assert sorted(os.listdir(os.path.join(m, 'OPLCOPY'))) == ['COUNT.OPL', 'HELLO.OPL']\n"
        "with open(os.path.join(m, 'PY.TXT'), 'w') as f: f.write('x' * 3000)\n"
        "assert os.stat(os.path.join(m, 'PY.TXT')).st_size == 3000\n"
        "os.rename(os.path.join(m, 'PY.TXT'), os.path.join(m, 'OPLCOPY', 'PY2.TXT'))\n"
        "assert open(os.path.join(m, 'OPLCOPY', 'PY2.TXT')).read() == 'x' * 3000\n"
        "t = os.getxattr(os.path.join(m, 'OPLCOPY', 'PY2.TXT'), 'user.mime_type')\n"
        "assert t == b'text/x-vnd.zk.psion-txt', t\n"
        "shutil.rmtree(os.path.join(m, 'OPLCOPY'))\n"
        "assert not os.path.exists(os.path.join(m, 'OPLCOPY'))\n"
        "st = os.statvfs(m)\n"
        "assert st.f_blocks * st.f_frsize == 16 * 1024 * 1024, (st.f_blocks, st.f_frsize)\n"
        "print('ok')\n";
    std::ofstream(folder_ + "/check.py") << script;
    auto result = run("python3 " + quote(folder_ + "/check.py") + " " + quote(mount_));
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(result.output, "ok\n");
}

TEST_F(EndToEnd, TypesAndAttributesAsExtendedAttributes) {
    auto typed = in_mount(
        "getfattr --only-values -n user.mime_type WRD/LETTER.WRD; echo; "
        "getfattr --only-values -n user.mime_type README.TXT; echo; "
        "getfattr --only-values -n user.mime_type . ; echo");
    EXPECT_EQ(typed.output,
              "text/x-vnd.zk.psion-wrd\ntext/x-vnd.zk.psion-txt\n"
              "application/x-vnd.zk.psion-volume\n")
        << typed.output;
    auto set = in_mount(
        "setfattr -n user.AUTHOR -v psion README.TXT && getfattr -d README.TXT && "
        "setfattr -n user.mime_type -v text/plain README.TXT && "
        "getfattr --only-values -n user.mime_type README.TXT");
    ASSERT_EQ(set.status, 0) << set.output;
    EXPECT_NE(set.output.find("user.AUTHOR=\"psion\""), std::string::npos) << set.output;
    EXPECT_NE(set.output.find("user.mime_type=\"text/x-vnd.zk.psion-txt\""), std::string::npos)
        << set.output;
    EXPECT_NE(set.output.find("text/plain"), std::string::npos) << set.output;
}

TEST_F(EndToEnd, AfterTheLinkGoesDownNoMountIsLeft) {
    ASSERT_EQ(in_mount("ls -l > /dev/null").status, 0);
    ASSERT_EQ(host_->LinkDown(), B_OK);
    EXPECT_EQ(mounts_below(folder_), "");
    EXPECT_EQ(fusebridge::mount_count(), 0);
    // The next link mounts the drive again.
    ASSERT_EQ(linked_.LinkUp(), "");
    auto again = in_mount("cat README.TXT");
    EXPECT_EQ(again.status, 0) << again.output;
}

// The 300 files a listing has to show.
class ManyEntries : public EndToEnd {
protected:
    void PrepareDrive() override {
        auto made = run("mkdir " + quote(drive_ + "/MANY") + " && cd " + quote(drive_ + "/MANY") +
                        " && for i in $(seq 1 300); do printf $i > F$i.TXT; done");
        ASSERT_EQ(made.status, 0) << made.output;
    }
};

TEST_F(ManyEntries, ListingAsksForTheDirectoryOnlyNotForEveryEntry) {
    host_->Trace().Reset();
    auto listed = in_mount("ls -l MANY | wc -l");
    ASSERT_EQ(listed.status, 0) << listed.output;
    EXPECT_EQ(listed.output, "301\n");  // the "total" line and 300 entries
    handheld::PacketTrace& trace = host_->Trace();
    // The Linux kernel releases a closed directory asynchronously: its FCLOSE may come later.
    (void)wait_for([&] { return trace.CountRequests(FCLOSE) > 0; }, 5s);
    uint32 opens = trace.CountRequests(FOPEN);
    uint32 reads = trace.CountRequests(FDIRREAD);
    uint32 closes = trace.CountRequests(FCLOSE);
    uint32 infos = trace.CountRequests(FINFO);
    std::printf("ls -l of 300 entries: FOPEN %u, FDIRREAD %u, FCLOSE %u, FINFO %u\n", opens, reads,
                closes, infos);
    EXPECT_EQ(opens, 1u);
    EXPECT_EQ(closes, 1u);
    // Only the lookup of "MANY" itself may ask for information.
    EXPECT_LE(infos, 1u);
    EXPECT_GE(reads, 2u);
}

// Files kept open for reuse must not use up the handheld's handles: a program that makes many
// files in a row (a copy of a folder, a build writing its outputs) gets every one.
TEST_F(ManyEntries, MakingMoreFilesThanTheHandheldHasHandlesWorks) {
    auto made = in_mount(
        "mkdir NEW && for i in $(seq 1 150); do : > NEW/N$i.TXT || exit 1; "
        "printf $i >> MANY/F$i.TXT || exit 1; done; ls NEW | wc -l");
    ASSERT_EQ(made.status, 0) << made.output;
    EXPECT_EQ(made.output, "150\n");
    auto read = in_mount("cat MANY/F150.TXT");
    EXPECT_EQ(read.output, "150150");
}

// A link slow enough that a large copy is still running when the link is cut.
class SlowLink : public EndToEnd {
protected:
    vantrel::LinkSpeed Speed() override { return {0, 200 * 1024}; }
};

TEST_F(SlowLink, ALinkCutInALargeCopyFailsItAndTheNextLinkMountsAgain) {
    ASSERT_EQ(run("head -c 3000000 /dev/urandom > " + quote(folder_ + "/BIG.BIN")).status, 0);
    fusetest::Result copy;
    std::thread copier([&] {
        copy = run("cp " + quote(folder_ + "/BIG.BIN") + " " + quote(mount_ + "/BIG.BIN"), 60);
    });
    // Cut the link once the copy is well under way.
    bool started = wait_for(
        [&] {
            struct stat st;
            return stat((drive_ + "/BIG.BIN").c_str(), &st) == 0 && st.st_size > 100000;
        },
        20s);
    auto cut = std::chrono::steady_clock::now();
    EXPECT_EQ(host_->LinkDown(), B_OK);
    copier.join();
    EXPECT_TRUE(started);
    EXPECT_NE(copy.status, 0) << copy.output;
    EXPECT_NE(copy.status, 124) << "the copy hung";
    EXPECT_NE(copy.output.find("error"), std::string::npos) << copy.output;
    EXPECT_LT(std::chrono::steady_clock::now() - cut, 20s);
    EXPECT_EQ(mounts_below(folder_), "");

    // The host keeps running: the next link mounts the drive again.
    ASSERT_EQ(linked_.LinkUp(), "");
    auto again = in_mount("cat NOTES.TXT > /dev/null && ls");
    EXPECT_EQ(again.status, 0) << again.output;
}

// The product itself: vantrel with FUSE, stopped with Ctrl-C (SIGINT).
TEST(Vantrel, CtrlCTakesTheLinkDownAndLeavesNoMount) {
    std::string reason;
    if (!fusebridge::available(&reason)) GTEST_SKIP() << "FUSE is not available: " << reason;
    std::string folder = fusetest::make_temporary_folder("tavro-vantrel-");
    ASSERT_FALSE(folder.empty());
    std::string drive = folder + "/drive", root = folder + "/psion";
    ASSERT_EQ(run("mkdir -p " + quote(drive) + " && cp -r " +
                  quote(std::string(TAVRO_SAMPLES_DIR) + "/.") + " " + quote(drive))
                  .status,
              0);
    std::string script = "TAVRO_FS_ADDON_PATH=" + quote(TAVRO_FS_ADDON_DIR) + " " +
                         quote(std::string(TAVRO_BIN_DIR) + "/vantrel") +
                         " --series3 --speed 0 --drive " + quote("M:INTERNAL=" + drive) +
                         " --addons " + quote(TAVRO_CLIENT_ADDON_DIR) + " --mount-root " +
                         quote(root) + " > " + quote(folder + "/log") +
                         " 2>&1 & pid=$!; "
                         "for i in $(seq 1 150); do grep -q " +
                         quote(" " + root + "/INTERNAL ") +
                         " /proc/self/mounts && break; sleep 0.1; done; "
                         "ls " +
                         quote(root + "/INTERNAL") + "; kill -INT $pid; wait $pid; echo exit=$?";
    auto result = run(script, 90);
    auto log = run("cat " + quote(folder + "/log"));
    EXPECT_NE(result.output.find("README.TXT"), std::string::npos) << result.output << log.output;
    EXPECT_NE(result.output.find("exit=0"), std::string::npos) << result.output << log.output;
    EXPECT_NE(log.output.find("is unmounted"), std::string::npos) << log.output;
    EXPECT_EQ(mounts_below(folder), "");
    if (mounts_below(folder).empty()) fusetest::remove_tree(folder);
}

}  // namespace
