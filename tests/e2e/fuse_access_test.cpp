// The Linux mount of a Series 3 drive as users and programs meet it: who owns the files and
// who may touch them, every spelling of a name agreeing at once, and the errors programs get.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "LinkedMountTest.h"
#include "shell.h"

namespace {

using fusetest::quote;
using fusetest::run;

std::string mount_options(const std::string& where) {
    std::ifstream table("/proc/self/mounts");
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string device, point, type, options;
        if (fields >> device >> point >> type >> options && point == where) return options;
    }
    return "";
}

class LinuxMount : public LinkedMountTest {
protected:
    LinuxMount() : LinkedMountTest("tavro-access-") {}

    void TearDown() override {
        (void)linked_.Stop();
        unsetenv("SUDO_UID");
        unsetenv("SUDO_GID");
    }

    // Starts the host with a drive holding README.TXT and the folder DOCS, and waits for the
    // Linux mount.
    void Start(const fusebridge::Options& bridge, bool readOnly = false) {
        vantrel::DriveSetup& drive = linked_.AddDrive('M', "INTERNAL", "drive");
        drive.readOnly = readOnly;
        drive_ = drive.folder;
        mount_ = linked_.mount("INTERNAL");
        // Other users must be able to reach the mount point for the mount's own rules to
        // decide.
        auto made = run("mkdir -p " + quote(drive_ + "/DOCS") + " " + quote(linked_.root()) +
                        " && echo hello > " + quote(drive_ + "/README.TXT") + " && chmod 755 " +
                        quote(linked_.folder()) + " " + quote(linked_.root()));
        ASSERT_EQ(made.status, 0) << made.output;
        ASSERT_EQ(linked_.Start(bridge), "");
    }

    fusetest::Result in_mount(const std::string& command) {
        return run("cd " + quote(mount_) + " && " + command);
    }
    // The command as user nobody.
    fusetest::Result as_nobody(const std::string& command) {
        return run("setpriv --reuid=65534 --regid=65534 --clear-groups sh -c " +
                   quote("cd " + mount_ + " && " + command));
    }

    std::string drive_, mount_;
};

TEST_F(LinuxMount, FilesBelongToTheInvokingUserWithUmaskModesAndOtherUsersStayOut) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    // Run under sudo by user 4321: the files are theirs.
    setenv("SUDO_UID", "4321", 1);
    setenv("SUDO_GID", "4322", 1);
    Start({});
    auto owners = in_mount("stat -c '%u %g %a %n' README.TXT DOCS");
    EXPECT_EQ(owners.output, "4321 4322 644 README.TXT\n4321 4322 755 DOCS\n");
    EXPECT_NE(mount_options(mount_).find("default_permissions"), std::string::npos);

    // Another user gets nowhere: not a read, not a write, not a new file.
    EXPECT_NE(as_nobody("cat README.TXT").status, 0);
    EXPECT_NE(as_nobody("echo evil > README.TXT").status, 0);
    EXPECT_NE(as_nobody("echo evil > NEW.TXT").status, 0);
    EXPECT_EQ(in_mount("cat README.TXT").output, "hello\n");
    EXPECT_FALSE(std::ifstream(drive_ + "/NEW.TXT").good());
}

TEST_F(LinuxMount, AllowOtherLetsOthersInButTheModesStillKeepThemFromWriting) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    fusebridge::Options bridge;
    bridge.allow_other = true;
    Start(bridge);
    auto read = as_nobody("cat README.TXT");
    EXPECT_EQ(read.status, 0) << read.output;
    EXPECT_EQ(read.output, "hello\n");
    auto write = as_nobody("echo evil > README.TXT");
    EXPECT_NE(write.status, 0);
    EXPECT_NE(write.output.find("Permission denied"), std::string::npos) << write.output;
    EXPECT_NE(as_nobody("echo evil > NEW.TXT").status, 0);
    EXPECT_NE(as_nobody("rm README.TXT").status, 0);
    EXPECT_EQ(in_mount("cat README.TXT").output, "hello\n");
}

TEST_F(LinuxMount, AWiderUmaskSettingLetsOthersWriteWhenAllowed) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    fusebridge::Options bridge;
    bridge.allow_other = true;
    bridge.umask = 0;
    Start(bridge);
    EXPECT_EQ(in_mount("stat -c %a README.TXT").output, "666\n");
    auto write = as_nobody("echo theirs > README.TXT");
    EXPECT_EQ(write.status, 0) << write.output;
    EXPECT_EQ(in_mount("cat README.TXT").output, "theirs\n");
}

TEST_F(LinuxMount, EverySpellingOfANameAgreesAtOnceAfterUnlinkRenameAndReplace) {
    Start({});
    // Each step looks a name up in one spelling, changes it through another, and looks at
    // once again through the first.
    auto unlinked = in_mount(
        "echo old > CASE1.TXT && cat case1.txt >/dev/null && ls -l Case1.Txt >/dev/null && "
        "rm CASE1.TXT && ls -l case1.txt Case1.Txt 2>&1; echo \"status $?\"");
    EXPECT_NE(unlinked.output.find("No such file"), std::string::npos) << unlinked.output;
    EXPECT_EQ(unlinked.output.find("CASE1"), std::string::npos) << unlinked.output;
    EXPECT_NE(unlinked.output.find("status 2"), std::string::npos) << unlinked.output;

    auto renamed = in_mount(
        "echo one > REN1.TXT && cat ren1.txt >/dev/null && mv Ren1.txt OTHER.TXT && "
        "cat ren1.txt 2>&1; cat other.txt");
    EXPECT_EQ(renamed.output.find("one\none"), std::string::npos) << renamed.output;
    EXPECT_NE(renamed.output.find("No such file"), std::string::npos) << renamed.output;

    auto replaced = in_mount(
        "echo first > A.TXT && echo second > B.TXT && cat a.txt A.Txt >/dev/null && "
        "mv B.TXT A.TXT && cat a.txt A.Txt A.TXT");
    EXPECT_EQ(replaced.output, "second\nsecond\nsecond\n");

    auto folder = in_mount(
        "mkdir SUB && ls sub >/dev/null && rmdir SUB && mkdir OTHER && ls -d sub 2>&1; "
        "ls -d other");
    EXPECT_NE(folder.output.find("No such file"), std::string::npos) << folder.output;
}

TEST_F(LinuxMount, AReadOnlyDriveMountsRoAndEveryChangeGivesErofs) {
    Start({}, true);
    EXPECT_NE(("," + mount_options(mount_) + ",").find(",ro,"), std::string::npos)
        << mount_options(mount_);
    for (const char* change :
         {"touch NEW.TXT", "echo x >> README.TXT", "rm README.TXT", "mv README.TXT R.TXT",
          "mkdir NEWDIR", "rmdir DOCS", "setfattr -n user.comment -v x README.TXT",
          "truncate -s 0 README.TXT"}) {
        auto result = in_mount(std::string(change) + " 2>&1");
        EXPECT_NE(result.status, 0) << change;
        EXPECT_NE(result.output.find("Read-only file system"), std::string::npos)
            << change << ": " << result.output;
    }
    EXPECT_EQ(in_mount("cat README.TXT").output, "hello\n");
}

TEST_F(LinuxMount, AnUnlinkedOpenFileStillAnswersFstatAndWritesPast2GiBGiveEfbig) {
    Start({});
    auto fstat = run("python3 -c " + quote("import os\n"
                                           "f = open('" +
                                           mount_ +
                                           "/GONE.TXT', 'w+')\n"
                                           "f.write('twelve bytes'); f.flush()\n"
                                           "os.unlink('" +
                                           mount_ +
                                           "/GONE.TXT')\n"
                                           "print(os.fstat(f.fileno()).st_size)\n"));
    EXPECT_EQ(fstat.status, 0) << fstat.output;
    EXPECT_EQ(fstat.output, "12\n");

    auto big = in_mount("dd if=/dev/zero of=BIG.BIN bs=1 count=1 seek=2147483648 2>&1");
    EXPECT_NE(big.status, 0);
    EXPECT_NE(big.output.find("File too large"), std::string::npos) << big.output;
}

}  // namespace
