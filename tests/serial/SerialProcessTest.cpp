// vantrel and vantrel-handheld as the user runs them: a pty between two processes, the
// progress lines, and a second vantrel on the same port refused.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "DeviceTestSupport.h"

namespace {

const std::string kBin = TAVRO_BIN_DIR;

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool WaitFor(const std::string& path, const std::string& part, int seconds) {
    for (int i = 0; i < seconds * 10; ++i) {
        if (Slurp(path).find(part) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& out) {
    pid_t pid = fork();
    if (pid == 0) {
        FILE* f = freopen(out.c_str(), "w", stdout);
        (void)f;
        dup2(fileno(stdout), 2);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        signal(SIGINT, SIG_DFL);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

int WaitExit(pid_t pid) {
    int status = 0;
    for (int i = 0; i < 600; ++i) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -2;
}

TEST(SerialProcess, VantrelReachesALoneSimulatedHandheldAndASecondOneIsRefused) {
    devtest::TempFolder work;
    std::string drive = work.Path() + "/m";
    ASSERT_EQ(mkdir(drive.c_str(), 0700), 0);
    std::string handheldOut = work.Path() + "/handheld.txt";
    pid_t handheld = Spawn(
        {kBin + "/vantrel-handheld", "--series3", "--drive", "M:INTERNAL=" + drive}, handheldOut);
    ASSERT_TRUE(WaitFor(handheldOut, "Ctrl-C", 30)) << Slurp(handheldOut);
    std::string pty = Slurp(handheldOut).substr(0, Slurp(handheldOut).find('\n'));
    ASSERT_EQ(pty.rfind("/dev/", 0), 0u) << pty;

    std::string firstOut = work.Path() + "/first.txt";
    pid_t first = Spawn(
        {kBin + "/vantrel", "--port", pty, "--no-fuse", "--settings-dir", work.Path()}, firstOut);
    ASSERT_TRUE(WaitFor(firstOut, "Series 3 connected on " + pty + " at 19200", 90))
        << Slurp(firstOut);
    EXPECT_NE(Slurp(firstOut).find("waiting for the handheld on " + pty + " at 115200..."),
              std::string::npos);

    std::string secondOut = work.Path() + "/second.txt";
    pid_t second = Spawn({kBin + "/vantrel", "--port", pty, "--baud", "19200", "--no-fuse",
                          "--settings-dir", work.Path()},
                         secondOut);
    EXPECT_EQ(WaitExit(second), 1);
    EXPECT_NE(Slurp(secondOut).find("in use by another program"), std::string::npos)
        << Slurp(secondOut);

    kill(first, SIGINT);
    EXPECT_EQ(WaitExit(first), 0);
    EXPECT_NE(Slurp(firstOut).find("link down, exiting"), std::string::npos) << Slurp(firstOut);
    kill(handheld, SIGTERM);
    EXPECT_EQ(WaitExit(handheld), 0);
}

TEST(SerialProcess, MissingPortIsAClearError) {
    devtest::TempFolder work;
    std::string out = work.Path() + "/out.txt";
    pid_t vantrel = Spawn({kBin + "/vantrel", "--port", "/dev/ttyNOSUCH7", "--no-fuse",
                           "--settings-dir", work.Path()},
                          out);
    EXPECT_EQ(WaitExit(vantrel), 1);
    EXPECT_NE(Slurp(out).find("/dev/ttyNOSUCH7: no such device"), std::string::npos) << Slurp(out);
}

}  // namespace
