#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "ClientHarness.h"
#include "TempDir.h"
#include "debugMsg.h"

namespace {

const std::string kStartup = "RFSV-Client: Startup! Timestamp: ";
const std::string kClosed = "RFSV-Client: Closed! Timestamp: ";

std::string CapturedStdout() {
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

TEST(DebugMsg, EverythingIsAppendedAndNothingIsEverEmptied) {
    TempDir dir;
    std::string log = dir / "rfsv-client.log";
    ASSERT_TRUE(WriteFile(log, "left over from an earlier connection\n"));
    testing::internal::CaptureStdout();
    {
        DebugMsg msg(log.c_str(), "RFSV-Client");
        auto lines = SplitLines(ReadFile(log));
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0], "left over from an earlier connection");
        EXPECT_TRUE(IsStamp(lines[1], kStartup)) << lines[1];
        msg.String("Try to start the PSION-SYS$RFSV");
        msg.String("Error in OPENDEV! Mount canceled!\n");
    }
    EXPECT_EQ(CapturedStdout(),
              "RFSV-Client: Try to start the PSION-SYS$RFSV\n"
              "RFSV-Client: Error in OPENDEV! Mount canceled!\n\n");
    auto lines = SplitLines(ReadFile(log));
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[2], "RFSV-Client: Try to start the PSION-SYS$RFSV");
    EXPECT_EQ(lines[3], "RFSV-Client: Error in OPENDEV! Mount canceled!");
    EXPECT_EQ(lines[4], "");
    EXPECT_TRUE(IsStamp(lines[5], kClosed)) << lines[5];
}

// A new log is the user's alone, whatever the umask.
TEST(DebugMsg, ANewLogIsPrivate) {
    TempDir dir;
    std::string log = dir / "new.log";
    mode_t saved = umask(0);
    { DebugMsg msg(log.c_str(), "RFSV-Client"); }
    umask(saved);
    struct stat st;
    ASSERT_EQ(stat(log.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// What lies at the path may be a trap: a link pointing at another file, a FIFO that would hold
// the link up, a file of another user. Each is refused once, said why, and left untouched.
TEST(DebugMsg, AnythingButARegularFileOfTheUsersOwnIsRefused) {
    TempDir dir;
    std::string precious = dir / "passwd";
    ASSERT_TRUE(WriteFile(precious, "root:x:0:0::/root:/bin/sh\n"));
    std::string link = dir / "link.log";
    ASSERT_EQ(symlink(precious.c_str(), link.c_str()), 0);
    std::string fifo = dir / "fifo.log";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string folder = dir / "folder.log";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);

    struct Case {
        std::string path;
        const char* why;
    };
    std::vector<Case> cases = {{link, "it is a symbolic link"},
                               {fifo, "it is not a regular file"},
                               {folder, "it is not a regular file"}};
    std::string foreign = dir / "foreign.log";
    if (geteuid() == 0) {
        ASSERT_TRUE(WriteFile(foreign, ""));
        ASSERT_EQ(chown(foreign.c_str(), 65534, 65534), 0);
        cases.push_back({foreign, "it belongs to another user"});
    }
    // A FIFO with a reader that never reads would block a writer that waits: keep one open.
    int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    for (const Case& c : cases) {
        testing::internal::CaptureStdout();
        {
            DebugMsg msg(c.path.c_str(), "RFSV-Client");
            msg.String("FOPEN");
            const uint8 bytes[] = {1, 2, 3};
            msg.Buffer(bytes, sizeof(bytes), "<<== Bytes sent:");
        }
        EXPECT_EQ(CapturedStdout(),
                  "RFSV-Client: debug file " + c.path + " refused: " + c.why + "; no debug log\n");
    }
    char buffer[16];
    EXPECT_LT(read(reader, buffer, sizeof(buffer)), 1);
    close(reader);
    EXPECT_EQ(ReadFile(precious), "root:x:0:0::/root:/bin/sh\n");
    if (geteuid() == 0) {
        EXPECT_EQ(ReadFile(foreign), "");
    }
}

TEST(DebugMsg, BufferDumpsEachCharacterUnderItsHexValue) {
    TempDir dir;
    std::string log = dir / "dump.log";
    testing::internal::CaptureStdout();
    {
        DebugMsg msg(log.c_str(), "RFSV-Client");
        const uint8 fopen[] = {0x00, 0x00, 0x02, 0x00, 0x50, 0x00};
        msg.Buffer(fopen, sizeof(fopen), "<<== Bytes sent:");
        const uint8 mixed[] = {0x1f, 0x20, 0x41, 0x7e, 0x7f, 0xe9};
        msg.Buffer(mixed, sizeof(mixed), nullptr);
        msg.Buffer(mixed, 0, "==>> Bytes read:");
    }
    // Only the titles reach standard output; the dump lines go to the file.
    EXPECT_EQ(CapturedStdout(), "RFSV-Client: <<== Bytes sent:\nRFSV-Client: ==>> Bytes read:\n");
    std::string text = ReadFile(log);
    size_t first = text.find('\n') + 1;
    size_t last = text.rfind("RFSV-Client: Closed!");
    ASSERT_NE(last, std::string::npos);
    EXPECT_EQ(text.substr(first, last - first),
              "RFSV-Client: <<== Bytes sent:\n"
              "    HEX: 00 00 02 00 50 00 \n"
              "  ASCII:  .  .  .  .  P  . \n"
              "    HEX: 1f 20 41 7e 7f e9 \n"
              "  ASCII:  .     A  ~  \x7f  \xe9 \n"
              "RFSV-Client: ==>> Bytes read:\n"
              "    HEX: \n"
              "  ASCII: \n");
}

TEST(DebugMsg, OffWithoutFileOrPrefixTouchesNothing) {
    TempDir dir;
    std::string log = dir / "never.log";
    testing::internal::CaptureStdout();
    {
        DebugMsg noFile(nullptr, "RFSV-Client");
        DebugMsg noPrefix(log.c_str(), nullptr);
        DebugMsg neither(nullptr, nullptr);
        const uint8 bytes[] = {1, 2, 3};
        for (DebugMsg* msg : {&noFile, &noPrefix, &neither}) {
            msg->String("FOPEN");
            msg->Buffer(bytes, sizeof(bytes), "<<== Bytes sent:");
        }
    }
    EXPECT_EQ(CapturedStdout(), "");
    EXPECT_FALSE(std::filesystem::exists(log));
}

TEST(DebugMsg, AFileThatCannotBeOpenedIsRetriedAtEveryCall) {
    TempDir dir;
    std::string folder = dir / "later";
    std::string log = folder + "/client.log";
    testing::internal::CaptureStdout();
    {
        DebugMsg msg(log.c_str(), "RFSV-Client");
        msg.String("lost: the folder does not exist yet");
        ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
        msg.String("kept");
    }
    EXPECT_EQ(CapturedStdout(), "RFSV-Client: kept\n");
    auto lines = SplitLines(ReadFile(log));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "RFSV-Client: kept");
    EXPECT_TRUE(IsStamp(lines[1], kClosed)) << lines[1];
}

}  // namespace
