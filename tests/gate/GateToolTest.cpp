// vantrel and tavro-gate as programs: the door is opened by a running vantrel with linkgate and
// the simulated Series 3, and tavro-gate is run the way a user would, its output compared.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

const std::string kBin = TAVRO_BIN_DIR;
const std::string kFinfoHex = "16000d004d3a5c4e4f5445532e54585400";

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Result {
    int status;
    std::string out;
    std::string err;
};

class GateTool : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "gate-tool-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        work = pattern;
        fs::create_directories(work / "drive");
        std::ofstream(work / "drive" / "NOTES.TXT") << "hello tavro";
        chmod((work / "drive" / "NOTES.TXT").c_str(), 0644);
        utimbuf times{1700000000, 1700000000};
        utime((work / "drive" / "NOTES.TXT").c_str(), &times);
        socket = (work / "run" / "gate.sock").string();
    }
    void TearDown() override {
        // A clean exit: the link down, the door shut, nothing leaked or raced on the way.
        for (auto& [pid, log] : hosts) EXPECT_EQ(Stop(pid), 0) << ReadFile(work / (log + ".err"));
        fs::remove_all(work);
    }

    // Starts vantrel and waits until it reports the link up (and its door, if it has one).
    pid_t StartHost(const std::string& log, bool expectDoor = true) {
        pid_t pid = fork();
        if (pid == 0) {
            std::string out = (work / log).string();
            freopen(out.c_str(), "w", stdout);
            freopen((out + ".err").c_str(), "w", stderr);
            std::string drive = "M:INTERNAL=" + (work / "drive").string();
            std::string addOn = std::string(TAVRO_CLIENT_ADDON_DIR) + "/linkgate.so";
            std::string vantrel = kBin + "/vantrel";
            execl(vantrel.c_str(), vantrel.c_str(), "--no-fuse", "--speed", "0", "--latency", "0",
                  "--drive", drive.c_str(), "--addon", addOn.c_str(), "--gate", socket.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        hosts.emplace_back(pid, log);
        const char* mark = expectDoor ? "gateway door at" : "link up";
        for (int i = 0; i < 3000 && ReadFile(work / log).find(mark) == std::string::npos; ++i)
            usleep(10000);
        EXPECT_NE(ReadFile(work / log).find(mark), std::string::npos) << ReadFile(work / log);
        return pid;
    }
    static int Stop(pid_t pid) {
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    // Runs tavro-gate with `arguments` (shell words) and `input` on standard input.
    Result Gate(const std::string& arguments, const std::string& input = "") {
        std::ofstream(work / "in.txt") << input;
        std::string command = kBin + "/tavro-gate " + arguments + " <" +
                              (work / "in.txt").string() + " >" + (work / "out.txt").string() +
                              " 2>" + (work / "err.txt").string();
        int status = system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(work / "out.txt"),
                ReadFile(work / "err.txt")};
    }

    fs::path work;
    std::string socket;
    std::vector<std::pair<pid_t, std::string>> hosts;
};

}  // namespace

TEST_F(GateTool, ConnectSendAndDisconnectInOneRun) {
    StartHost("vantrel.out");
    Result r = Gate("--socket " + socket + " connect 'SYS$RFSV' ';' send . " + kFinfoHex +
                    " ';' channels ';' disconnect . ';' channels");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    // The channel number is the host's to choose; read it from the first line.
    unsigned chan = 0;
    ASSERT_EQ(sscanf(r.out.c_str(), "connected to SYS$RFSV on channel %u", &chan), 1) << r.out;
    std::string c = std::to_string(chan);
    EXPECT_EQ(r.out,
              "connected to SYS$RFSV on channel " + c +
                  "\n"
                  "reply: 22 bytes\n"
                  "  0000  2a 00 12 00 00 00 00 00 01 00 0b 00 00 00 00 f1  |*...............|\n"
                  "  0010  53 65 00 00 00 00                                |Se....|\n"
                  "channel " +
                  c +
                  ": SYS$RFSV\n"
                  "channel " +
                  c +
                  " disconnected\n"
                  "no channels open\n");
}

TEST_F(GateTool, CommandsFromStandardInput) {
    StartHost("vantrel.out");
    Result r = Gate("--socket " + socket,
                    "# a server that LINK starts\nconnect ECHO\nsend . 68 65 6c 6c 6f\nlink\n");
    EXPECT_EQ(r.status, 0) << r.err;
    unsigned chan = 0;
    ASSERT_EQ(sscanf(r.out.c_str(), "connected to ECHO on channel %u", &chan), 1) << r.out;
    EXPECT_EQ(r.out, "connected to ECHO on channel " + std::to_string(chan) +
                         "\n"
                         "reply: 5 bytes\n"
                         "  0000  68 65 6c 6c 6f                                   |hello|\n"
                         "link up\n");
}

TEST_F(GateTool, FailuresInPlainWordsAndANonZeroStatus) {
    StartHost("vantrel.out");
    Result r = Gate("--socket " + socket + " send 77 00");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "tavro-gate: send: channel 77 is not open on this connection\n");

    r = Gate("--socket " + socket + " connect ABCDEFGHIJKLMN");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tavro-gate: connect: server names have at most 13 characters\n");

    r = Gate("--socket " + socket + " send . 00");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tavro-gate: channel: no connect has opened a channel yet\n");

    // A script stops at its first failure.
    r = Gate("--socket " + socket, "link\nsend 5 zz\nlink\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "link up\n");
    EXPECT_EQ(r.err, "tavro-gate: send: the packet is not hexadecimal bytes\n");

    r = Gate("--socket " + (work / "nobody-here.sock").string() + " link");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot reach vantrel at"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("is vantrel running?"), std::string::npos) << r.err;
}

TEST_F(GateTool, ASecondHostRunsWithoutADoorAndTheFirstKeepsIt) {
    StartHost("first.out");
    pid_t second = StartHost("second.out", false);
    std::string complaint = ReadFile(work / "second.out.err");
    EXPECT_NE(complaint.find("another vantrel serves the gateway at " + socket +
                             "; running without a gateway door"),
              std::string::npos)
        << complaint;
    EXPECT_EQ(Stop(second), 0);
    hosts.pop_back();
    Result r = Gate("--socket " + socket + " link");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "link up\n");
}

TEST_F(GateTool, AKilledHostsSocketIsTakenOverByTheNext) {
    pid_t first = StartHost("first.out");
    kill(first, SIGKILL);
    waitpid(first, nullptr, 0);
    hosts.clear();
    ASSERT_TRUE(fs::exists(socket));  // left behind
    StartHost("second.out");
    Result r = Gate("--socket " + socket + " link");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "link up\n");
}
