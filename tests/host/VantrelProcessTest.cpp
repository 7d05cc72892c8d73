// The vantrel executable: it brings the link up at start, runs the add-ons, and on SIGTERM,
// SIGINT, SIGHUP or SIGQUIT takes the link down (the add-ons hear it) and exits cleanly; a
// reader that goes away, a closed standard input or a cut link do not make it die half-way.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "DeviceTestSupport.h"

using devtest::TempFolder;

namespace {

const std::string kVantrel = std::string(TAVRO_BIN_DIR) + "/vantrel";
const std::string kMountClient = std::string(TAVRO_CLIENT_ADDON_DIR) + "/tavro-mount.so";

struct Child {
    pid_t pid = -1;
    FILE* out = nullptr;
};

Child Spawn(const std::vector<std::string>& args, const std::string& addOnLog,
            bool closeStdin = false) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    Child child;
    child.pid = fork();
    if (child.pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        if (closeStdin) close(0);
        setenv("TAVRO_TEST_ADDON_LOG", addOnLog.c_str(), 1);
        setenv("TAVRO_FS_ADDON_PATH", TAVRO_FS_ADDON_DIR, 1);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(kVantrel.c_str()));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(kVantrel.c_str(), argv.data());
        _exit(127);
    }
    close(fds[1]);
    child.out = fdopen(fds[0], "r");
    return child;
}

std::string ReadLine(FILE* file) {
    char line[512];
    if (fgets(line, sizeof(line), file) == nullptr) return {};
    return line;
}

// What the child still writes until it closes its output; our end is closed after.
std::string ReadToEnd(FILE* file) {
    std::string text;
    for (std::string line = ReadLine(file); !line.empty(); line = ReadLine(file)) text += line;
    fclose(file);
    return text;
}

int WaitExit(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The test add-on keeps a mount root like the mount client's: no Linux mounts, so that no test
// takes (or locks) a shared one.
std::vector<std::string> HostArguments(const TempFolder& work) {
    return {"--drive",   "M:INTERNAL=" + (work / "drive"),
            "--speed",   "0",
            "--latency", "0",
            "--addons",  TEST_ADDON_DIR,
            "--trace",   work / "trace.txt",
            "--no-fuse"};
}

// The mount client (with no Linux mounts) in front of `work`'s folder "drive" as M:INTERNAL,
// mounting below `root`.
std::vector<std::string> MountClientArguments(const TempFolder& work, const std::string& root) {
    return {"--drive",      "M:INTERNAL=" + (work / "drive"),
            "--speed",      "0",
            "--latency",    "0",
            "--addon",      kMountClient,
            "--mount-root", root,
            "--no-fuse"};
}

// Stops the host with `signal`: it says the link went down and exits cleanly.
void StopWith(Child& child, int signal) {
    kill(child.pid, signal);
    std::string rest = ReadToEnd(child.out);
    EXPECT_EQ(WaitExit(child.pid), 0);
    EXPECT_NE(rest.find("link down"), std::string::npos) << rest;
}

// Until the add-on has its channel: the link is fully up.
void WaitForChannel(const TempFolder& work) {
    for (int i = 0; i < 500 && work.Read("addon.log").find("channel") == std::string::npos; ++i)
        usleep(10000);
}

void RunUntilSignal(int signal) {
    TempFolder work;
    work.Write("drive/README.TXT", "hello");
    work.Write("trace.txt", "an earlier run\n");
    std::string log = work / "addon.log";
    Child child = Spawn(HostArguments(work), log);
    ASSERT_GT(child.pid, 0);
    std::string up = ReadLine(child.out);
    EXPECT_NE(up.find("link up"), std::string::npos) << up;
    // Wait until the add-on has its channel, then stop the host.
    WaitForChannel(work);
    StopWith(child, signal);
    std::string addOnLog = work.Read("addon.log");
    EXPECT_NE(addOnLog.find("run 3"), std::string::npos) << addOnLog;
    EXPECT_EQ(addOnLog.find("channel 0"), std::string::npos) << addOnLog;
    EXPECT_NE(addOnLog.find("link-down 1"), std::string::npos) << addOnLog;
    std::string trace = work.Read("trace.txt");
    EXPECT_NE(trace.find(" out ch=0 connect "), std::string::npos) << trace;
    EXPECT_NE(trace.find(" in ch=1 connect-reply "), std::string::npos) << trace;
    EXPECT_NE(trace.find("link-down"), std::string::npos) << trace;
    // The trace is appended to, never emptied.
    EXPECT_EQ(trace.rfind("an earlier run\n", 0), 0u) << trace;
}

TEST(VantrelProcess, SigtermTakesTheLinkDownAndExitsCleanly) { RunUntilSignal(SIGTERM); }

TEST(VantrelProcess, SigintTakesTheLinkDownAndExitsCleanly) { RunUntilSignal(SIGINT); }

// A closed terminal (SIGHUP) and Ctrl-\ (SIGQUIT) stop the host as SIGTERM does, never with
// the drives left mounted or a core dump.
TEST(VantrelProcess, SighupTakesTheLinkDownAndExitsCleanly) { RunUntilSignal(SIGHUP); }

TEST(VantrelProcess, SigquitTakesTheLinkDownAndExitsCleanly) { RunUntilSignal(SIGQUIT); }

// `vantrel ... | head -1`: the reader goes after the first line. The host's next lines must not
// kill it (SIGPIPE) with the link up; it goes on and takes the link down as asked.
TEST(VantrelProcess, AReaderThatGoesAwayDoesNotKillTheHost) {
    TempFolder work;
    work.Write("drive/README.TXT", "hello");
    std::string log = work / "addon.log";
    Child child = Spawn(HostArguments(work), log);
    ASSERT_GT(child.pid, 0);
    EXPECT_NE(ReadLine(child.out).find("link up"), std::string::npos);
    fclose(child.out);
    WaitForChannel(work);
    kill(child.pid, SIGTERM);
    EXPECT_EQ(WaitExit(child.pid), 0);
    EXPECT_NE(work.Read("addon.log").find("link-down 1"), std::string::npos)
        << work.Read("addon.log");
}

// Started with standard input closed (`vantrel <&-`) or at its end, the host runs as ever.
TEST(VantrelProcess, AClosedStandardInputChangesNothing) {
    TempFolder work;
    work.Write("drive/README.TXT", "hello");
    std::string log = work / "addon.log";
    Child child = Spawn(HostArguments(work), log, true);
    ASSERT_GT(child.pid, 0);
    EXPECT_NE(ReadLine(child.out).find("link up"), std::string::npos);
    WaitForChannel(work);
    usleep(300000);
    EXPECT_EQ(waitpid(child.pid, nullptr, WNOHANG), 0) << "the host stopped by itself";
    StopWith(child, SIGTERM);
}

// Into a pipe, the add-ons' lines arrive as they are written, not when the host exits.
TEST(VantrelProcess, OutputIntoAPipeIsLineBuffered) {
    TempFolder work;
    work.Write("drive/README.TXT", "hello");
    std::string root = work / "psion";
    Child child = Spawn(MountClientArguments(work, root), "/dev/null");
    ASSERT_GT(child.pid, 0);
    std::string out;
    // The mount client's line about the drive, while the host still runs.
    for (std::string line = ReadLine(child.out); !line.empty(); line = ReadLine(child.out)) {
        out += line;
        if (line.find("mounted at") != std::string::npos) break;
    }
    EXPECT_EQ(waitpid(child.pid, nullptr, WNOHANG), 0);
    EXPECT_NE(out.find("Drive M: mounted at " + root + "/INTERNAL"), std::string::npos) << out;
    kill(child.pid, SIGTERM);
    out += ReadToEnd(child.out);
    EXPECT_EQ(WaitExit(child.pid), 0) << out;
}

// A link cut (here at the mount client's first request) is said in plain words, and the host
// stops instead of waiting for a signal with nothing left to serve.
TEST(VantrelProcess, ACutLinkIsSaidInPlainWords) {
    TempFolder work;
    work.Write("drive/README.TXT", "hello");
    std::vector<std::string> arguments = MountClientArguments(work, work / "psion");
    arguments.insert(arguments.end(), {"--fault", "cut:1"});
    Child child = Spawn(arguments, "/dev/null");
    ASSERT_GT(child.pid, 0);
    std::string out = ReadToEnd(child.out);
    EXPECT_EQ(WaitExit(child.pid), 1) << out;
    EXPECT_NE(out.find("the link to the handheld was cut"), std::string::npos) << out;
    EXPECT_NE(out.find("link down, exiting"), std::string::npos) << out;
}

TEST(VantrelProcess, BadArgumentsExitWithUsage) {
    Child child = Spawn({"--drive", "nonsense"}, "/dev/null");
    std::string out = ReadToEnd(child.out);
    EXPECT_EQ(WaitExit(child.pid), 2) << out;
}

}  // namespace
