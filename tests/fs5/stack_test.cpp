// tavro5 in the whole stack: the in-process host with a simulated Series 5 whose drives C:
// and D: are temporary folders, the real tavro5.so mounted through the kernel, and every
// operation driven through the kernel's system calls.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "HostMount.h"
#include "KernelFiles.h"
#include "TempDir.h"
#include "host/HostLink.h"
#include "kernel/syscalls.h"
#include "platform/ByteOrder.h"
#include "tavro5.h"

namespace {

// These tests read in calls of 10,000 bytes.
constexpr size_t kReadChunk = 10000;

class Series5Stack : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(folder.empty());
        std::filesystem::create_directories(folder + "/c/Documents");
        std::filesystem::create_directories(folder + "/d");
        std::ofstream(folder + "/c/Documents/Letter to Anna.txt") << "Dear Anna";
        Start();
    }
    void TearDown() override { Stop(); }

    void Start(bool readOnlyD = false) {
        vantrel::HostOptions options;
        options.family = vantrel::Family::Series5;
        vantrel::DriveSetup d = HostDrive('D', "Disk", folder + "/d");
        d.readOnly = readOnlyD;
        options.drives = {HostDrive('C', "Internal", folder + "/c"), d};
        ASSERT_EQ(stack.Start(options), B_OK);
        host = stack.host.get();
        ASSERT_EQ(stack.Mount("tavro5", "C:", "/s5/Internal"), B_OK);
        ASSERT_EQ(stack.Mount("tavro5", "D:", "/s5/Disk"), B_OK);
    }

    void Stop() {
        EXPECT_EQ(stack.Stop(), B_OK);
        host = nullptr;
    }

    status_t WriteAll(const std::string& path, const std::string& bytes, int omode) {
        int fd = sys_open(path.c_str(), omode, 0644);
        if (fd < 0) return fd;
        ssize_t n = sys_write(fd, 0, bytes.data(), bytes.size());
        status_t closed = sys_close(fd);
        if (n < 0) return static_cast<status_t>(n);
        if (static_cast<size_t>(n) != bytes.size()) return B_IO_ERROR;
        return closed;
    }

    TempDir temp{"tavro5-stack"};
    std::string folder = temp.path();
    HostMount stack;
    vantrel::HostLink* host = nullptr;
};

TEST_F(Series5Stack, LongNamesListedAsStoredAndFoundWithoutRegardToCase) {
    auto names = List("/s5/Internal/Documents");
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "Letter to Anna.txt"}));
    EXPECT_EQ(ReadAll("/s5/Internal/DOCUMENTS/letter TO anna.TXT", kReadChunk), "Dear Anna");
    be_stat st;
    ASSERT_EQ(sys_stat("/s5/Internal/documents/Letter to Anna.txt", &st), B_OK);
    EXPECT_EQ(st.st_size, 9);
    EXPECT_EQ(st.st_mode, B_S_IFREG | 0666u);
    struct stat host_st;
    ASSERT_EQ(stat((folder + "/c/Documents/Letter to Anna.txt").c_str(), &host_st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, host_st.st_mtim.tv_sec);
}

TEST_F(Series5Stack, FilesWrittenReadTruncatedAndRenamedOnTheHandheld) {
    std::string data;
    for (int i = 0; i < 10000; i++) data += static_cast<char>('a' + i % 26);
    ASSERT_EQ(WriteAll("/s5/Internal/Data file.bin", data, B_O_RDWR | B_O_CREAT), B_OK);
    EXPECT_EQ(ReadFile(folder + "/c/Data file.bin"), data);
    EXPECT_EQ(ReadAll("/s5/Internal/Data file.bin", kReadChunk), data);

    be_stat st{};
    st.st_size = 12345;
    ASSERT_EQ(sys_wstat("/s5/Internal/Data file.bin", &st, WSTAT_SIZE), B_OK);
    EXPECT_EQ(std::filesystem::file_size(folder + "/c/Data file.bin"), 12345u);
    st.st_size = 100;
    ASSERT_EQ(sys_wstat("/s5/Internal/Data file.bin", &st, WSTAT_SIZE), B_OK);
    EXPECT_EQ(ReadAll("/s5/Internal/Data file.bin", kReadChunk), data.substr(0, 100));

    ASSERT_EQ(sys_mkdir("/s5/Internal/Archive", 0755), B_OK);
    ASSERT_EQ(sys_rename("/s5/Internal/Data file.bin", "/s5/Internal/Archive/Moved.bin"), B_OK);
    EXPECT_EQ(ReadFile(folder + "/c/Archive/Moved.bin"), data.substr(0, 100));
    // Onto an existing file: it is replaced.
    ASSERT_EQ(WriteAll("/s5/Internal/Other.bin", "other", B_O_RDWR | B_O_CREAT), B_OK);
    ASSERT_EQ(sys_rename("/s5/Internal/Other.bin", "/s5/Internal/Archive/Moved.bin"), B_OK);
    EXPECT_EQ(ReadAll("/s5/Internal/Archive/Moved.bin", kReadChunk), "other");
    EXPECT_FALSE(std::filesystem::exists(folder + "/c/Other.bin"));
    // Only the case of the name changes.
    ASSERT_EQ(sys_rename("/s5/Internal/Archive/Moved.bin", "/s5/Internal/Archive/MOVED.BIN"), B_OK);
    EXPECT_EQ(List("/s5/Internal/Archive"), (std::vector<std::string>{".", "..", "MOVED.BIN"}));

    EXPECT_EQ(sys_rmdir("/s5/Internal/Archive"), B_DIRECTORY_NOT_EMPTY);
    ASSERT_EQ(sys_unlink("/s5/Internal/Archive/moved.bin"), B_OK);
    ASSERT_EQ(sys_rmdir("/s5/Internal/Archive"), B_OK);
    EXPECT_FALSE(std::filesystem::exists(folder + "/c/Archive"));
    EXPECT_EQ(sys_unlink("/s5/Internal/Archive"), B_ENTRY_NOT_FOUND);
}

TEST_F(Series5Stack, CreateOpensAnExistingFileWithoutEmptyingIt) {
    int fd = sys_open("/s5/Internal/Documents/LETTER TO ANNA.TXT", B_O_WRONLY | B_O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(sys_write(fd, 0, "F", 1), 1);
    ASSERT_EQ(sys_close(fd), B_OK);
    EXPECT_EQ(ReadFile(folder + "/c/Documents/Letter to Anna.txt"), "Fear Anna");
    EXPECT_EQ(sys_open("/s5/Internal/Documents/Letter to Anna.txt",
                       B_O_WRONLY | B_O_CREAT | B_O_EXCL, 0644),
              B_FILE_EXISTS);
}

TEST_F(Series5Stack, ThreadsWorkOnTheVolumeAtOnce) {
    std::vector<std::thread> threads;
    std::vector<std::string> failures(4);
    for (int t = 0; t < 4; t++) {
        threads.emplace_back([&, t] {
            std::string name = "/s5/Internal/Thread " + std::to_string(t) + ".bin";
            std::string data(20000, static_cast<char>('A' + t));
            for (int round = 0; round < 3; round++) {
                if (WriteAll(name, data, B_O_RDWR | B_O_CREAT | B_O_TRUNC) != B_OK)
                    failures[t] = "write";
                else if (ReadAll(name, kReadChunk) != data)
                    failures[t] = "read";
                else if (List("/s5/Internal").size() < 4)
                    failures[t] = "list";
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < 4; t++) EXPECT_EQ(failures[t], "") << t;
    EXPECT_EQ(List("/s5/Internal").size(), 2u + 1 + 4);
}

TEST_F(Series5Stack, AFileOpenOnTheHandheldIsNotRemoved) {
    int fd = sys_open("/s5/Internal/Documents/Letter to Anna.txt", B_O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(sys_unlink("/s5/Internal/Documents/Letter to Anna.txt"), B_BUSY);
    EXPECT_TRUE(std::filesystem::exists(folder + "/c/Documents/Letter to Anna.txt"));
    EXPECT_EQ(sys_close(fd), B_OK);
    EXPECT_EQ(sys_unlink("/s5/Internal/Documents/Letter to Anna.txt"), B_OK);
    EXPECT_FALSE(std::filesystem::exists(folder + "/c/Documents/Letter to Anna.txt"));
}

TEST_F(Series5Stack, AccentsCrossAsTheCodePageAndOthersAreRefused) {
    ASSERT_EQ(WriteAll("/s5/Internal/Résumé – été.txt", "x", B_O_RDWR | B_O_CREAT), B_OK);
    EXPECT_TRUE(std::filesystem::exists(folder + "/c/Résumé – été.txt"));
    auto names = List("/s5/Internal");
    EXPECT_NE(std::find(names.begin(), names.end(), "Résumé – été.txt"), names.end());
    EXPECT_EQ(sys_open("/s5/Internal/Ωmega.txt", B_O_RDWR | B_O_CREAT, 0644), B_BAD_VALUE);
    EXPECT_FALSE(std::filesystem::exists(folder + "/c/Ωmega.txt"));
    // A host file whose name the handheld cannot carry is not shown.
    std::ofstream(folder + "/c/日本.txt") << "hidden";
    names = List("/s5/Internal");
    EXPECT_EQ(std::find(names.begin(), names.end(), "日本.txt"), names.end());
}

TEST_F(Series5Stack, ModifiedTimeAndReadOnlyAttributeRoundTrip) {
    be_stat st{};
    st.st_mtim = {1049522828, 0};  // 2003-04-05 06:07:08 UTC
    ASSERT_EQ(sys_wstat("/s5/Internal/Documents/Letter to Anna.txt", &st, WSTAT_MTIME), B_OK);
    struct stat host_st;
    ASSERT_EQ(stat((folder + "/c/Documents/Letter to Anna.txt").c_str(), &host_st), 0);
    EXPECT_EQ(host_st.st_mtim.tv_sec, 1049522828);
    ASSERT_EQ(sys_stat("/s5/Internal/Documents/Letter to Anna.txt", &st), B_OK);
    EXPECT_EQ(st.st_mtim.tv_sec, 1049522828);

    st.st_mode = 0444;
    ASSERT_EQ(sys_wstat("/s5/Internal/Documents/Letter to Anna.txt", &st, WSTAT_MODE), B_OK);
    ASSERT_EQ(sys_stat("/s5/Internal/Documents/Letter to Anna.txt", &st), B_OK);
    EXPECT_EQ(st.st_mode, B_S_IFREG | 0444u);
    EXPECT_EQ(sys_open("/s5/Internal/Documents/Letter to Anna.txt", B_O_WRONLY, 0),
              B_PERMISSION_DENIED);
    st.st_mode = 0644;
    ASSERT_EQ(sys_wstat("/s5/Internal/Documents/Letter to Anna.txt", &st, WSTAT_MODE), B_OK);
    EXPECT_EQ(WriteAll("/s5/Internal/Documents/Letter to Anna.txt", "ok", B_O_WRONLY | B_O_TRUNC),
              B_OK);
}

TEST_F(Series5Stack, VolumeInformationAndTypes) {
    fs_info info;
    ASSERT_EQ(sys_rfsstat("/s5/Disk", &info), B_OK);
    EXPECT_STREQ(info.volume_name, "Disk");
    EXPECT_STREQ(info.device_name, "D:");
    EXPECT_EQ(info.total_blocks * info.block_size, 8 * 1024 * 1024);
    ASSERT_EQ(WriteAll("/s5/Disk/big", std::string(100000, 'b'), B_O_RDWR | B_O_CREAT), B_OK);
    fs_info after;
    ASSERT_EQ(sys_rfsstat("/s5/Disk", &after), B_OK);
    EXPECT_LT(after.free_blocks, info.free_blocks);

    char type[64] = {};
    ASSERT_GT(sys_read_attr("/s5/Internal/Documents/Letter to Anna.txt", "BEOS:TYPE",
                            B_MIME_STRING_TYPE, 0, type, sizeof type),
              0);
    EXPECT_STREQ(type, "text/x-vnd.zk.psion-txt");
    // A Series 5 Word document names its program in its third file type id.
    std::string word = std::string("\x37\x00\x00\x10\x6D\x00\x00\x10\x85\x00\x00\x10", 12) + "body";
    std::ofstream(folder + "/c/Shopping", std::ios::binary) << word;
    auto names = List("/s5/Internal");
    memset(type, 0, sizeof type);
    ASSERT_GT(sys_read_attr("/s5/Internal/Shopping", "BEOS:TYPE", B_MIME_STRING_TYPE, 0, type,
                            sizeof type),
              0);
    EXPECT_STREQ(type, "application/x-vnd.zk.psion5-word");
}

TEST_F(Series5Stack, ReadOnlyMediaAreReportedAndRefuseWrites) {
    Stop();
    Start(true);
    fs_info info;
    ASSERT_EQ(sys_rfsstat("/s5/Disk", &info), B_OK);
    EXPECT_NE(info.flags & B_FS_IS_READONLY, 0u);
    EXPECT_NE(sys_open("/s5/Disk/new", B_O_RDWR | B_O_CREAT, 0644), B_OK);
    EXPECT_FALSE(std::filesystem::exists(folder + "/d/new"));
}

TEST_F(Series5Stack, ALostWriteReplyIsAnErrorAndTheFileIsAskedAgain) {
    ASSERT_EQ(WriteAll("/s5/Internal/f", "0123456789", B_O_RDWR | B_O_CREAT), B_OK);
    int fd = sys_open("/s5/Internal/f", B_O_RDWR, 0);
    ASSERT_GE(fd, 0);
    // The next request's reply comes garbled: the write happened, but nobody can know it.
    host->Faults().Add(*vantrel::FaultRule::Parse("garbage:1@SYS$RFSV"));
    EXPECT_LT(sys_write(fd, 0, "ABC", 3), 0);
    // The next access seeks before it reads and sees what the handheld holds.
    char buffer[16] = {};
    EXPECT_EQ(sys_read(fd, 0, buffer, sizeof buffer), 10);
    EXPECT_EQ(std::string(buffer, 10), "ABC3456789");
    be_stat st;
    ASSERT_EQ(sys_fstat(fd, &st), B_OK);
    EXPECT_EQ(st.st_size, 10);
    EXPECT_EQ(sys_close(fd), B_OK);
}

// The simulated Series 5 holds at most 64 handles a session. A hundred opens whose replies are
// lost (each carried out) would fill that table for good; the volume ends such a session once
// it holds nothing itself, so afterwards everything works and no session is left behind.
TEST_F(Series5Stack, AHundredLostOpenRepliesLeaveTheDriveWhole) {
    const std::string file = "/s5/Internal/Documents/Letter to Anna.txt";
    be_stat st;
    ASSERT_EQ(sys_stat(file.c_str(), &st), B_OK);
    size_t channels = host->OpenChannels();
    nspace_id nsid;
    ASSERT_EQ(kernel_volume_at("/s5/Internal", &nsid, nullptr), B_OK);
    auto* vol = static_cast<tavro5::volume*>(kernel_volume_cookie(nsid));
    ASSERT_NE(vol, nullptr);
    vol->timeout = 100000;
    uint32 strikes = host->Faults().Strikes();
    // An open of a known file is one request: its reply is the one lost.
    host->Faults().Add(*vantrel::FaultRule::Parse("drop:1x100@SYS$RFSV"));
    // (A session begun too slowly for the short time-out sends nothing: the loop goes on.)
    for (int i = 0; i < 300 && host->Faults().Strikes() - strikes < 100; i++)
        EXPECT_LT(sys_open(file.c_str(), B_O_RDONLY, 0), 0);
    EXPECT_EQ(host->Faults().Strikes() - strikes, 100u);
    vol->timeout = 10000000;

    EXPECT_EQ(ReadAll(file, kReadChunk), "Dear Anna");
    std::vector<int> fds;
    for (int i = 0; i < 64; i++) fds.push_back(sys_open(file.c_str(), B_O_RDONLY, 0));
    for (int fd : fds) EXPECT_GE(fd, 0);
    for (int fd : fds) {
        if (fd >= 0) {
            EXPECT_EQ(sys_close(fd), B_OK);
        }
    }
    EXPECT_EQ(sys_rename(file.c_str(), "/s5/Internal/Documents/Anna.txt"), B_OK);
    EXPECT_EQ(sys_unlink("/s5/Internal/Documents/Anna.txt"), B_OK);
    EXPECT_FALSE(std::filesystem::exists(folder + "/c/Documents/Anna.txt"));
    EXPECT_EQ(host->OpenChannels(), channels);
}

}  // namespace
