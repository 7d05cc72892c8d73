// The vantrel executable: it brings the link up at start, runs the add-ons, and on SIGTERM
// or SIGINT takes the link down (the add-ons hear it) and exits cleanly.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "DeviceTestSupport.h"

using devtest::TempFolder;

namespace {

const std::string kVantrel = std::string(TAVRO_BIN_DIR) + "/vantrel";

struct Child {
    pid_t pid = -1;
    FILE* out = nullptr;
};

Child Spawn(const std::vector<std::string>& args, const std::string& addOnLog) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    Child child;
    child.pid = fork();
    if (child.pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        setenv("TAVRO_TEST_ADDON_LOG", addOnLog.c_str(), 1);
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

int WaitExit(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void RunUntilSignal(int signal) {
    TempFolder work;
    work.Write("drive/README.TXT", "hello");
    std::string log = work / "addon.log";
    Child child = Spawn({"--drive", "M:INTERNAL=" + (work / "drive"), "--speed", "0", "--latency",
                         "0", "--addons", TEST_ADDON_DIR, "--trace", work / "trace.txt"},
                        log);
    ASSERT_GT(child.pid, 0);
    std::string up = ReadLine(child.out);
    EXPECT_NE(up.find("link up"), std::string::npos) << up;
    // Wait until the add-on has its channel, then stop the host.
    for (int i = 0; i < 500 && work.Read("addon.log").find("channel") == std::string::npos; ++i)
        usleep(10000);
    kill(child.pid, signal);
    std::string rest;
    for (std::string line = ReadLine(child.out); !line.empty(); line = ReadLine(child.out))
        rest += line;
    fclose(child.out);
    EXPECT_EQ(WaitExit(child.pid), 0);
    EXPECT_NE(rest.find("link down"), std::string::npos) << rest;
    std::string addOnLog = work.Read("addon.log");
    EXPECT_NE(addOnLog.find("run 3"), std::string::npos) << addOnLog;
    EXPECT_EQ(addOnLog.find("channel 0"), std::string::npos) << addOnLog;
    EXPECT_NE(addOnLog.find("link-down 1"), std::string::npos) << addOnLog;
    std::string trace = work.Read("trace.txt");
    EXPECT_NE(trace.find(" out ch=0 connect "), std::string::npos) << trace;
    EXPECT_NE(trace.find(" in ch=1 connect-reply "), std::string::npos) << trace;
    EXPECT_NE(trace.find("link-down"), std::string::npos) << trace;
}

TEST(VantrelProcess, SigtermTakesTheLinkDownAndExitsCleanly) { RunUntilSignal(SIGTERM); }

TEST(VantrelProcess, SigintTakesTheLinkDownAndExitsCleanly) { RunUntilSignal(SIGINT); }

TEST(VantrelProcess, BadArgumentsExitWithUsage) {
    Child child = Spawn({"--drive", "nonsense"}, "/dev/null");
    std::string out;
    for (std::string line = ReadLine(child.out); !line.empty(); line = ReadLine(child.out))
        out += line;
    fclose(child.out);
    EXPECT_EQ(WaitExit(child.pid), 2);
}

}  // namespace
