// What vantrel refuses before it brings a link up, run as a user types it: drives that could not
// work, mount roots that would put a drive over the system, a trace file it must not write, a
// mount root another vantrel serves. Commands that could mount anything run in a private mount
// namespace (as root), so that a fault here cannot touch the machine's own mounts.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "DeviceTestSupport.h"

using devtest::TempFolder;

namespace {

struct Result {
    int status = -1;
    std::string output;
};

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs a shell script (standard error with standard output), stopped after `seconds` (124).
Result Shell(const std::string& script, int seconds = 60) {
    std::string command =
        "timeout -s KILL " + std::to_string(seconds) + " sh -c " + Quote(script) + " 2>&1";
    Result result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[512];
    while (fgets(buffer, sizeof(buffer), pipe) != nullptr) result.output += buffer;
    int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (result.status == 137) result.status = 124;
    return result;
}

const std::string kVantrel = Quote(std::string(TAVRO_BIN_DIR) + "/vantrel");
const std::string kClients = Quote(TAVRO_CLIENT_ADDON_DIR);
const std::string kEnvironment = "TAVRO_FS_ADDON_PATH=" + Quote(TAVRO_FS_ADDON_DIR) + " ";

// Mounts made inside stay there and go with the namespace.
bool CanUsePrivateMounts() {
    return geteuid() == 0 && system("unshare -m --propagation private true 2>/dev/null") == 0;
}
std::string Private(const std::string& script) {
    return "unshare -m --propagation private sh -c " + Quote(script);
}
bool FuseUsable() { return access("/dev/fuse", R_OK | W_OK) == 0; }

// vantrel with the real add-ons on `work`'s folder "drive" as M:INTERNAL, mounting below `root`.
std::string Host(const TempFolder& work, const std::string& root) {
    return kEnvironment + kVantrel + " --speed 0 --drive " +
           Quote("M:INTERNAL=" + (work / "drive")) + " --addons " + kClients + " --mount-root " +
           Quote(root);
}

// Script lines: `host` started in the background with its output in `log`, then a wait (30 s at
// the most) until the log has `awaited`; `$pid` is the host's process.
std::string StartAndAwait(const std::string& host, const std::string& log,
                          const std::string& awaited) {
    return host + " > " + log + " 2>&1 & pid=$!; for i in $(seq 1 300); do grep -q '" + awaited +
           "' " + log + " && break; sleep 0.1; done; ";
}

TEST(VantrelStart, DrivesThatCannotWorkAreRefusedBeforeTheLinkComesUp) {
    TempFolder work;
    work.Write("drive/README.TXT", "hello");
    work.Write("afile", "not a folder");
    struct Case {
        std::string drive;
        const char* says;
    };
    for (const Case& c :
         {Case{"M:INTERNAL=" + (work / "missing"), "No such file"},
          Case{"M:INTERNAL=" + (work / "afile"), "is not a folder"},
          Case{"M:INTERNAL=drive", "absolute"},
          Case{"M:INTERNAL=" + (work / "drive") + ",capacity=-1", "capacity is a number of bytes"},
          Case{"M:INTERNAL=" + (work / "drive") + ",media=9", "media is a type"}}) {
        Result run = Shell(kVantrel + " --no-fuse --drive " + Quote(c.drive), 30);
        EXPECT_EQ(run.status, 2) << c.drive << "\n" << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find("link up"), std::string::npos) << run.output;
    }
    Result twice = Shell(kVantrel + " --no-fuse --drive " + Quote("M:A=" + (work / "drive")) +
                             " --drive " + Quote("M:B=" + (work / "drive")),
                         30);
    EXPECT_EQ(twice.status, 2) << twice.output;
}

// "--mount-root ''" with an unlabelled drive once mounted the drive over "/".
TEST(VantrelStart, NoDriveIsEverMountedOverTheSystem) {
    if (!CanUsePrivateMounts()) GTEST_SKIP() << "needs root and unshare for a private namespace";
    TempFolder work;
    work.Write("drive/README.TXT", "hello");
    const std::string host = kEnvironment + kVantrel + " --speed 0 --drive " +
                             Quote("M:=" + (work / "drive")) + " --addons " + kClients;
    for (const char* root : {"", "/", "//", "psion"}) {
        Result run = Shell(Private(host + " --mount-root " + Quote(root)), 30);
        EXPECT_EQ(run.status, 2) << "mount root '" << root << "'\n" << run.output;
        EXPECT_NE(run.output.find("mount root"), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find("mounted at"), std::string::npos) << run.output;
    }
    // A usable root: the unlabelled drive gets a mount point of its own, named after its
    // letter, and never the root itself.
    std::string root = work / "psion";
    // Stopped once the drive's line is out (or vantrel has ended, or after 30 s).
    const std::string log = Quote(work / "host.log");
    Result run = Shell(Private(host + " --no-fuse --mount-root " + Quote(root) + " >" + log +
                               " 2>&1 & pid=$!; for i in $(seq 1 300); do "
                               "kill -0 $pid || break; grep -q 'Drive M: ' " +
                               log +
                               " && break; sleep 0.1; done; kill -TERM $pid; wait $pid; "
                               "status=$?; cat " +
                               log + "; echo exit=$status"),
                       60);
    EXPECT_NE(run.output.find("Drive M: mounted at " + root + "/M\n"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("exit=0"), std::string::npos) << run.output;
}

TEST(VantrelStart, ATraceFileThatCannotBeWrittenStopsTheStart) {
    TempFolder work;
    work.Write("drive/README.TXT", "hello");
    work.Write("precious", "keep me\n");
    ASSERT_EQ(symlink((work / "precious").c_str(), (work / "link").c_str()), 0);
    ASSERT_EQ(mkfifo((work / "fifo").c_str(), 0600), 0);
    mkdir((work / "folder").c_str(), 0700);
    const std::string host =
        kVantrel + " --no-fuse --drive " + Quote("M:INTERNAL=" + (work / "drive")) + " --trace ";
    struct Case {
        std::string trace;
        const char* says;
    };
    for (const Case& c :
         {Case{work / "no/such/folder/trace.txt", "No such file"},
          Case{work / "folder", "not a regular file"}, Case{work / "link", "symbolic link"},
          Case{work / "fifo", "not a regular file"}}) {
        Result run = Shell(host + Quote(c.trace), 30);
        EXPECT_EQ(run.status, 2) << c.trace << "\n" << run.output;
        EXPECT_NE(run.output.find("cannot write the packet trace"), std::string::npos)
            << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
    }
    EXPECT_EQ(work.Read("precious"), "keep me\n");
    // The same from the environment.
    Result run = Shell("VANTREL_TRACE=" + Quote(work / "link") + " " + kVantrel +
                           " --no-fuse --drive " + Quote("M:INTERNAL=" + (work / "drive")),
                       30);
    EXPECT_EQ(run.status, 2) << run.output;
}

// The tests that mount through FUSE: a drive folder, a mount root and a log for the host.
class VantrelMounting : public testing::Test {
protected:
    void SetUp() override {
        if (!CanUsePrivateMounts() || !FuseUsable()) GTEST_SKIP() << "needs root, unshare and FUSE";
        work.Write("drive/README.TXT", "hello");
    }

    TempFolder work;
    const std::string root = work / "psion";
    const std::string log = Quote(work / "host.log");
};

// Two hosts on one mount root would mount over each other's drives.
TEST_F(VantrelMounting, ASecondHostOnTheSameMountRootIsRefused) {
    const std::string host = Host(work, root);
    const std::string first = Quote(work / "first.log");
    Result run = Shell(Private(StartAndAwait(host, first, "is mounted") + host +
                               " 2>&1; echo second=$?; kill -TERM $pid; wait $pid; echo first=$?; "
                               "cat " +
                               first),
                       90);
    EXPECT_NE(run.output.find("another vantrel already serves the mount root " + root),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("second=1"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("first=0"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("fuse: " + root + "/INTERNAL is mounted"), std::string::npos)
        << run.output;
}

// A program inside a mount holds the unmount up; once the second Ctrl-C detached it, the host
// is gone within a second or two (not after the mount client's growing pauses).
TEST_F(VantrelMounting, ABusyMountDetachedOnCtrlCEndsTheHostAtOnce) {
    Result run =
        Shell(Private(StartAndAwait(Host(work, root), log, "is mounted") + "(cd " +
                      Quote(root + "/INTERNAL") +
                      " && sleep 60) & busy=$!; sleep 0.5; "
                      "kill -INT $pid; sleep 3.5; kill -INT $pid; start=$(date +%s%N); wait $pid; "
                      "echo exit=$?; echo took_ms=$(( ($(date +%s%N) - start) / 1000000 )); "
                      "kill $busy; cat " +
                      log),
              90);
    EXPECT_NE(run.output.find("detaching the Linux mounts"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("exit=0"), std::string::npos) << run.output;
    size_t at = run.output.find("took_ms=");
    ASSERT_NE(at, std::string::npos) << run.output;
    EXPECT_LT(std::stol(run.output.substr(at + 8)), 4000) << run.output;
}

// A drive whose Linux mount cannot be made is not reported as mounted, and when no drive could
// be mounted the host says so.
TEST_F(VantrelMounting, AMountThatFailedIsNotReportedAsSuccess) {
    Result run = Shell(Private(StartAndAwait(Host(work, "/proc"), log, "could be mounted") +
                               "kill -TERM $pid; wait $pid; cat " + log),
                       90);
    EXPECT_NE(run.output.find("Drive M: NOT mounted at /proc/INTERNAL: "), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("No drive of the handheld could be mounted"), std::string::npos)
        << run.output;
    EXPECT_EQ(run.output.find("Drive M: mounted"), std::string::npos) << run.output;
}

// The mount point of a drive shows the time it was mounted, not 0 (1 January 1970).
TEST_F(VantrelMounting, TheMountPointShowsTheRealTime) {
    Result run = Shell(
        Private(StartAndAwait(Host(work, root), log, "is mounted") + "echo mtime=$(stat -c %Y " +
                Quote(root + "/INTERNAL") + "); kill -TERM $pid; wait $pid"),
        90);
    size_t at = run.output.find("mtime=");
    ASSERT_NE(at, std::string::npos) << run.output;
    long mtime = std::stol(run.output.substr(at + 6));
    EXPECT_GT(mtime, time(nullptr) - 24 * 3600) << run.output;
}

}  // namespace
