// tavro3 through the kernel's system calls against the simulated Series 3.
#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "StackFixture.h"

namespace {

using stack::StackTest;
using stack::WriteHostFile;

std::string RandomBytes(size_t size, uint32 seed) {
    std::mt19937 random(seed);
    std::string out(size, '\0');
    for (char& c : out) c = static_cast<char>(random());
    return out;
}

std::vector<std::string> Sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(StackTest, RootStatAndListingsOfZeroOneTwentyAndThreeHundredEntries) {
    be_stat st;
    ASSERT_EQ(sys_stat(where.c_str(), &st), B_OK);
    EXPECT_EQ(st.st_mode, 0x41FFu);

    std::map<std::string, int> sizes = {{"Empty", 0}, {"One", 1}, {"Twenty", 20}, {"Many", 300}};
    for (auto& [dir, count] : sizes) {
        std::filesystem::create_directory(HostPath(dir));
        for (int i = 0; i < count; i++)
            WriteHostFile(HostPath(dir + "/File" + std::to_string(i) + ".Txt"), "x");
    }
    for (auto& [dir, count] : sizes) {
        uint32 before = Sent(FDIRREAD);
        std::vector<std::string> names = List(Path(dir));
        ASSERT_GE(names.size(), 2u);
        EXPECT_EQ(names[0], ".");
        EXPECT_EQ(names[1], "..");
        std::vector<std::string> expected;
        // A Series 3 stores its 8.3 names in upper case: the listing shows them so.
        for (int i = 0; i < count; i++) expected.push_back("FILE" + std::to_string(i) + ".TXT");
        EXPECT_EQ(Sorted({names.begin() + 2, names.end()}), Sorted(expected)) << dir;
        // Every reply is as full as the device makes it: one more request ends the listing.
        if (count == 20) {
            EXPECT_EQ(Sent(FDIRREAD) - before, 2u);
        }
    }
}

TEST_F(StackTest, LookupsIgnoreCaseAndCachedOrListedNamesSendNoFinfo) {
    WriteHostFile(HostPath("Letter.WRD"), "hello");
    std::filesystem::create_directory(HostPath("Docs"));
    WriteHostFile(HostPath("Docs/Memo.TXT"), "memo");

    be_stat st;
    uint32 before = Sent(FINFO);
    ASSERT_EQ(sys_stat(Path("Letter.WRD").c_str(), &st), B_OK);
    EXPECT_EQ(st.st_size, 5);
    EXPECT_EQ(st.st_blksize, 511);
    EXPECT_EQ(Sent(FINFO) - before, 1u);
    ASSERT_EQ(sys_stat(Path("LETTER.wrd").c_str(), &st), B_OK);
    EXPECT_EQ(Sent(FINFO) - before, 1u);

    List(Path("Docs"));
    before = Sent(FINFO);
    ASSERT_EQ(sys_stat(Path("docs/MEMO.txt").c_str(), &st), B_OK);
    EXPECT_EQ(st.st_size, 4);
    EXPECT_EQ(Sent(FINFO), before);
    EXPECT_EQ(sys_stat(Path("Nothing").c_str(), &st), B_ENTRY_NOT_FOUND);
}

TEST_F(StackTest, WstatOfTheModificationTimeReachesTheDevice) {
    WriteHostFile(HostPath("T.TXT"), "t");
    be_stat st{};
    st.st_mtime = 1000000000;
    uint32 before = Sent(SFDATE);
    ASSERT_EQ(sys_wstat(Path("T.TXT").c_str(), &st, WSTAT_MTIME), B_OK);
    EXPECT_EQ(Sent(SFDATE) - before, 1u);
    be_stat now;
    ASSERT_EQ(sys_stat(Path("T.TXT").c_str(), &now), B_OK);
    EXPECT_EQ(now.st_mtime, 1000000000);
    // The device keeps it: a listing refreshes the node from the device's own answer.
    List(where);
    ASSERT_EQ(sys_stat(Path("T.TXT").c_str(), &now), B_OK);
    EXPECT_EQ(now.st_mtime, 1000000000);
    // A mode change is accepted and sends nothing.
    before = Sent(SFDATE);
    st.st_mode = 0600;
    EXPECT_EQ(sys_wstat(Path("T.TXT").c_str(), &st, WSTAT_MODE), B_OK);
    EXPECT_EQ(Sent(SFDATE), before);
}

TEST_F(StackTest, FileOperationsWriteNothingToTheDebugFile) {
    std::string log = folder + "-debug.log";
    StopHost();
    StartHost(log);
    be_stat st;
    EXPECT_EQ(sys_stat(Path("NONE").c_str(), &st), B_ENTRY_NOT_FOUND);
    WriteHostFile(HostPath("A.TXT"), "abc");
    ASSERT_EQ(sys_stat(Path("A.TXT").c_str(), &st), B_OK);
    // The host's packet trace has every packet; the file system adds no dumps of its own.
    std::string text = std::filesystem::exists(log) ? ReadFile(log) : std::string();
    std::filesystem::remove(log);
    EXPECT_EQ(text.find("send "), std::string::npos) << text;
    EXPECT_EQ(text.find("recv "), std::string::npos) << text;
}

TEST_F(StackTest, WithTheLinkGoneEveryOperationFailsAtOnce) {
    WriteHostFile(HostPath("A.TXT"), std::string(2000, 'a'));
    int fd = sys_open(Path("A.TXT").c_str(), B_O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    host->LinkDown();
    bigtime_t start = system_time();
    char buffer[100];
    EXPECT_EQ(sys_read(fd, 0, buffer, sizeof buffer), B_IO_ERROR);  // the first request
    EXPECT_EQ(sys_read(fd, 0, buffer, sizeof buffer), B_IO_ERROR);  // every later one
    EXPECT_EQ(sys_close(fd), B_OK);
    be_stat st;
    EXPECT_EQ(sys_stat(Path("B.TXT").c_str(), &st), B_IO_ERROR);
    EXPECT_LT(sys_stat(Path("A.TXT").c_str(), &st), 0);  // cached, but the walk is refused
    EXPECT_EQ(sys_mkdir(Path("D").c_str(), 0755), B_IO_ERROR);
    EXPECT_LT(sys_open(Path("C.TXT").c_str(), B_O_WRONLY | B_O_CREAT, 0644), 0);
    int dir = sys_opendir(where.c_str());
    if (dir >= 0) {
        be_dirent entry;
        EXPECT_EQ(sys_readdir(dir, &entry, sizeof entry), 0);  // not even "." and ".."
        sys_closedir(dir);
    }
    fs_info info;
    EXPECT_EQ(sys_rfsstat(where.c_str(), &info), B_IO_ERROR);
    EXPECT_LT(system_time() - start, 1000000);
}

TEST_F(StackTest, FilesOfEverySizeRoundTrip) {
    int seed = 1;
    for (size_t size : {0, 1, 503, 511, 1200, 70000, 1 << 20}) {
        std::string name = "F" + std::to_string(size) + ".BIN";
        std::string content = RandomBytes(size, seed++);
        ASSERT_EQ(WriteAll(Path(name), content, B_O_WRONLY | B_O_CREAT | B_O_TRUNC), B_OK) << size;
        EXPECT_EQ(ReadFile(HostPath(name)), content) << size;
        EXPECT_EQ(ReadAll(Path(name)), content) << size;
        be_stat st;
        ASSERT_EQ(sys_stat(Path(name).c_str(), &st), B_OK);
        EXPECT_EQ(st.st_size, static_cast<off_t>(size));
    }
}

TEST_F(StackTest, AppendAndReadsAtRandomPositions) {
    ASSERT_EQ(WriteAll(Path("LOG.TXT"), "abc", B_O_WRONLY | B_O_CREAT | B_O_TRUNC), B_OK);
    int fd = sys_open(Path("LOG.TXT").c_str(), B_O_WRONLY | B_O_APPEND, 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(sys_write(fd, 0, "def", 3), 3);
    EXPECT_EQ(sys_write(fd, 3, "gh", 2), 2);
    sys_close(fd);
    EXPECT_EQ(ReadFile(HostPath("LOG.TXT")), "abcdefgh");
    be_stat st;
    ASSERT_EQ(sys_stat(Path("LOG.TXT").c_str(), &st), B_OK);
    EXPECT_EQ(st.st_size, 8);

    std::string content = RandomBytes(70000, 99);
    WriteHostFile(HostPath("R.BIN"), content);
    fd = sys_open(Path("R.BIN").c_str(), B_O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    std::mt19937 random(7);
    std::vector<char> buffer(5000);
    for (int i = 0; i < 40; i++) {
        off_t pos = random() % 72000;
        size_t length = random() % buffer.size();
        ssize_t n = sys_read(fd, pos, buffer.data(), length);
        size_t expect = pos >= 70000 ? 0 : std::min<size_t>(length, 70000 - pos);
        ASSERT_EQ(n, static_cast<ssize_t>(expect)) << pos << " " << length;
        EXPECT_EQ(std::string(buffer.data(), expect),
                  content.substr(std::min<off_t>(pos, 70000), expect));
    }
    sys_close(fd);
}

TEST_F(StackTest, AppendsGoWhereTheFileEndsWithoutASeek) {
    WriteHostFile(HostPath("LOG.TXT"), "start\n");
    be_stat st;
    ASSERT_EQ(sys_stat(Path("LOG.TXT").c_str(), &st), B_OK);
    uint32 seeks = Sent(FSEEK), writes = Sent(FWRITE), opens = Sent(FOPEN), closes = Sent(FCLOSE);
    // The position a caller hands an append is its own business (0, or whatever it thinks
    // the size is): the bytes go at the end of the file.
    std::string want = "start\n";
    for (int i = 0; i < 100; i++) {
        int fd = sys_open(Path("LOG.TXT").c_str(), B_O_WRONLY | B_O_APPEND, 0);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(sys_write(fd, i % 2 == 0 ? 0 : 3 * i, "0123456789", 10), 10);
        ASSERT_EQ(sys_close(fd), B_OK);
        want += "0123456789";
    }
    EXPECT_EQ(ReadFile(HostPath("LOG.TXT")), want);
    // Each append is its open, its data and its close: the device opens an append at the end,
    // which the node's size tells.
    EXPECT_EQ(Sent(FSEEK) - seeks, 0u);
    EXPECT_EQ(Sent(FWRITE) - writes, 100u);
    EXPECT_EQ(Sent(FOPEN) - opens, 100u);
    EXPECT_EQ(Sent(FCLOSE) - closes, 100u);
    ASSERT_EQ(sys_stat(Path("LOG.TXT").c_str(), &st), B_OK);
    EXPECT_EQ(st.st_size, static_cast<off_t>(want.size()));
}

TEST_F(StackTest, MkdirRmdirAndRefusingAFullDirectory) {
    ASSERT_EQ(sys_mkdir(Path("NEW").c_str(), 0755), B_OK);
    EXPECT_TRUE(std::filesystem::is_directory(HostPath("NEW")));
    EXPECT_EQ(sys_mkdir(Path("NEW").c_str(), 0755), B_FILE_EXISTS);
    ASSERT_EQ(WriteAll(Path("NEW/IN.TXT"), "x", B_O_WRONLY | B_O_CREAT), B_OK);
    EXPECT_EQ(sys_rmdir(Path("NEW").c_str()), B_DIRECTORY_NOT_EMPTY);
    EXPECT_TRUE(std::filesystem::exists(HostPath("NEW/IN.TXT")));
    ASSERT_EQ(sys_unlink(Path("NEW/IN.TXT").c_str()), B_OK);
    EXPECT_FALSE(std::filesystem::exists(HostPath("NEW/IN.TXT")));
    ASSERT_EQ(sys_rmdir(Path("NEW").c_str()), B_OK);
    EXPECT_FALSE(std::filesystem::exists(HostPath("NEW")));
    EXPECT_EQ(sys_rmdir(Path("NEW").c_str()), B_ENTRY_NOT_FOUND);
}

TEST_F(StackTest, RenameWithinAndAcrossDirectories) {
    WriteHostFile(HostPath("A.TXT"), "aaa");
    std::filesystem::create_directories(HostPath("SRC/SUB"));
    std::filesystem::create_directory(HostPath("DST"));
    WriteHostFile(HostPath("SRC/SUB/DEEP.TXT"), "deep");
    ASSERT_EQ(sys_rename(Path("A.TXT").c_str(), Path("B.TXT").c_str()), B_OK);
    EXPECT_EQ(ReadFile(HostPath("B.TXT")), "aaa");
    EXPECT_FALSE(std::filesystem::exists(HostPath("A.TXT")));
    be_stat st;
    EXPECT_EQ(sys_stat(Path("A.TXT").c_str(), &st), B_ENTRY_NOT_FOUND);

    ASSERT_EQ(ReadAll(Path("SRC/SUB/DEEP.TXT")), "deep");  // cached below SRC
    ASSERT_EQ(sys_rename(Path("SRC").c_str(), Path("DST/MOVED").c_str()), B_OK);
    EXPECT_EQ(ReadAll(Path("DST/MOVED/SUB/DEEP.TXT")), "deep");
    EXPECT_EQ(sys_stat(Path("SRC/SUB/DEEP.TXT").c_str(), &st), B_ENTRY_NOT_FOUND);
    ASSERT_EQ(sys_rename(Path("B.TXT").c_str(), Path("DST/MOVED/B.TXT").c_str()), B_OK);
    EXPECT_EQ(ReadFile(HostPath("DST/MOVED/B.TXT")), "aaa");
}

TEST_F(StackTest, AnUnlinkedOpenFileReadsOnUntilItsLastClose) {
    std::string content = RandomBytes(3000, 3);
    WriteHostFile(HostPath("OPEN.BIN"), content);
    int fd = sys_open(Path("OPEN.BIN").c_str(), B_O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(sys_unlink(Path("OPEN.BIN").c_str()), B_OK);
    be_stat st;
    EXPECT_EQ(sys_stat(Path("OPEN.BIN").c_str(), &st), B_ENTRY_NOT_FOUND);
    // The name is free at once; the data wait under a hidden name for the last close.
    EXPECT_FALSE(std::filesystem::exists(HostPath("OPEN.BIN")));
    auto hostFiles = [&] {
        size_t count = 0;
        for (const auto& each : std::filesystem::directory_iterator(HostPath(""))) {
            (void)each;
            count++;
        }
        return count;
    };
    EXPECT_EQ(hostFiles(), 1u);
    EXPECT_EQ(List(where), (std::vector<std::string>{".", ".."}));
    ASSERT_EQ(WriteAll(Path("OPEN.BIN"), "new", B_O_WRONLY | B_O_CREAT | B_O_EXCL), B_OK);
    std::vector<char> buffer(3000);
    EXPECT_EQ(sys_read(fd, 0, buffer.data(), buffer.size()), 3000);
    EXPECT_EQ(std::string(buffer.data(), 3000), content);
    ASSERT_EQ(sys_fstat(fd, &st), B_OK);
    EXPECT_EQ(st.st_size, 3000);
    EXPECT_EQ(sys_close(fd), B_OK);
    EXPECT_EQ(hostFiles(), 1u);
    EXPECT_EQ(ReadFile(HostPath("OPEN.BIN")), "new");
}

TEST_F(StackTest, ExclusiveCreateOfAnExistingNameLeavesItAlone) {
    WriteHostFile(HostPath("KEEP.TXT"), "precious");
    EXPECT_EQ(sys_open(Path("KEEP.TXT").c_str(), B_O_WRONLY | B_O_CREAT | B_O_EXCL, 0644),
              B_FILE_EXISTS);
    int fd = sys_open(Path("KEEP.TXT").c_str(), B_O_RDWR | B_O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    sys_close(fd);
    EXPECT_EQ(ReadFile(HostPath("KEEP.TXT")), "precious");
}

TEST_F(StackTest, AttributesLiveOnTheNode) {
    WriteHostFile(HostPath("ATTR.TXT"), "x");
    std::string path = Path("ATTR.TXT");
    int fd = sys_open(path.c_str(), B_O_RDONLY, 0);  // keeps the node, and so its attributes
    ASSERT_GE(fd, 0);
    EXPECT_EQ(sys_write_attr(path.c_str(), "color", B_STRING_TYPE, 0, "blue", 5), 5);
    char value[16] = {};
    EXPECT_EQ(sys_read_attr(path.c_str(), "color", B_STRING_TYPE, 0, value, sizeof value), 5);
    EXPECT_STREQ(value, "blue");
    attr_info info;
    ASSERT_EQ(sys_stat_attr(path.c_str(), "color", &info), B_OK);
    EXPECT_EQ(info.type, B_STRING_TYPE);
    EXPECT_EQ(info.size, 5);
    ASSERT_EQ(sys_rename_attr(path.c_str(), "color", "colour"), B_OK);
    std::vector<std::string> names;
    int dir = sys_open_attrdir(path.c_str());
    ASSERT_GE(dir, 0);
    be_dirent entry;
    while (sys_read_attrdir(dir, &entry, sizeof entry) == 1) names.push_back(entry.d_name);
    sys_close_attrdir(dir);
    EXPECT_EQ(names, (std::vector<std::string>{"colour", "BEOS:TYPE"}));
    ASSERT_EQ(sys_remove_attr(path.c_str(), "colour"), B_OK);
    EXPECT_EQ(sys_stat_attr(path.c_str(), "colour", &info), B_ENTRY_NOT_FOUND);
    sys_close(fd);
}

TEST_F(StackTest, TheRootCarriesTheVolumeTypeAndIcons) {
    char type[64] = {};
    EXPECT_EQ(sys_read_attr(where.c_str(), "BEOS:TYPE", B_MIME_STRING_TYPE, 0, type, sizeof type),
              34);
    EXPECT_STREQ(type, "application/x-vnd.zk.psion-volume");
    attr_info info;
    ASSERT_EQ(sys_stat_attr(where.c_str(), "BEOS:L:STD_ICON", &info), B_OK);
    EXPECT_EQ(info.size, 1024);
    ASSERT_EQ(sys_stat_attr(where.c_str(), "BEOS:M:STD_ICON", &info), B_OK);
    EXPECT_EQ(info.size, 256);
    std::vector<uint8> icon(256);
    EXPECT_EQ(sys_read_attr(where.c_str(), "BEOS:M:STD_ICON", 0x4D49434E, 0, icon.data(), 256),
              256);
    EXPECT_EQ(icon[0], 255);                                          // a transparent corner
    EXPECT_GT(std::set<uint8>(icon.begin(), icon.end()).size(), 3u);  // a drawing, not a blank
}

TEST_F(StackTest, EveryFileIsTypedByItsExtension) {
    std::map<std::string, std::string> types = {
        {"LETTER.WRD", "text/x-vnd.zk.psion-wrd"},  {"notes.Txt", "text/x-vnd.zk.psion-txt"},
        {"DATA.BAK", "application/x-vnd.zk.psion"}, {"SOUND.WVE", "audio/x-vnd.zk.psion-wve"},
        {"PLAIN", "application/x-vnd.zk.psion"},
    };
    for (auto& [name, type] : types) WriteHostFile(HostPath(name), "x");
    std::filesystem::create_directory(HostPath("DIR.WRD"));
    for (auto& [name, type] : types) {
        char value[64] = {};
        EXPECT_EQ(sys_read_attr(Path(name).c_str(), "BEOS:TYPE", B_MIME_STRING_TYPE, 0, value,
                                sizeof value),
                  static_cast<ssize_t>(type.size() + 1))
            << name;
        EXPECT_EQ(value, type) << name;
    }
    attr_info info;
    EXPECT_EQ(sys_stat_attr(Path("DIR.WRD").c_str(), "BEOS:TYPE", &info), B_ENTRY_NOT_FOUND);
}

TEST_F(StackTest, AReadOnlyDriveRefusesChangesAndKeepsItsFiles) {
    WriteHostFile(HostPath("RO.TXT"), "fixed");
    StopHost();
    StartHost("", true);
    fs_info info;
    ASSERT_EQ(sys_rfsstat(where.c_str(), &info), B_OK);
    EXPECT_TRUE(info.flags & B_FS_IS_READONLY);

    int fd = sys_open(Path("RO.TXT").c_str(), B_O_WRONLY, 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(sys_write(fd, 0, "new", 3), B_READ_ONLY_DEVICE);
    sys_close(fd);
    EXPECT_EQ(sys_open(Path("NEW.TXT").c_str(), B_O_WRONLY | B_O_CREAT, 0644), B_READ_ONLY_DEVICE);
    EXPECT_EQ(sys_mkdir(Path("DIR").c_str(), 0755), B_READ_ONLY_DEVICE);
    EXPECT_EQ(sys_unlink(Path("RO.TXT").c_str()), B_READ_ONLY_DEVICE);
    EXPECT_EQ(sys_rename(Path("RO.TXT").c_str(), Path("RW.TXT").c_str()), B_READ_ONLY_DEVICE);
    EXPECT_EQ(sys_write_attr(Path("RO.TXT").c_str(), "user.x", B_RAW_TYPE, 0, "x", 1),
              B_READ_ONLY_DEVICE);
    be_stat st{};
    st.st_mtime = 12345;
    EXPECT_EQ(sys_wstat(Path("RO.TXT").c_str(), &st, WSTAT_MTIME), B_READ_ONLY_DEVICE);
    EXPECT_EQ(ReadFile(HostPath("RO.TXT")), "fixed");
    EXPECT_FALSE(std::filesystem::exists(HostPath("NEW.TXT")));
    EXPECT_FALSE(std::filesystem::exists(HostPath("DIR")));
    EXPECT_NE(std::filesystem::last_write_time(HostPath("RO.TXT")).time_since_epoch().count(), 0);
}

TEST_F(StackTest, NodesStayValidWhenTheKernelKeepsNoUnusedNodes) {
    kernel_set_unused_vnode_limit(0);
    std::filesystem::create_directories(HostPath("A/B/C"));
    WriteHostFile(HostPath("A/B/C/F.TXT"), "leaf");
    int fd = sys_open(Path("A/B/C/F.TXT").c_str(), B_O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    // The directories above the open file were released; their records must still hold.
    List(Path("A/B"));
    be_stat st;
    for (int i = 0; i < 5; i++) ASSERT_EQ(sys_stat(Path("a/b/c").c_str(), &st), B_OK);
    char buffer[8] = {};
    EXPECT_EQ(sys_read(fd, 0, buffer, sizeof buffer), 4);
    ASSERT_EQ(sys_rename(Path("A/B").c_str(), Path("A/BB").c_str()), B_OK);
    EXPECT_EQ(ReadAll(Path("A/BB/C/F.TXT")), "leaf");
    // Threads looking the same names up, listing and stating at once.
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20; i++) {
                be_stat s;
                sys_stat(Path("A/BB/C/F.TXT").c_str(), &s);
                List(Path("A/BB/C"));
            }
        });
    }
    for (auto& thread : threads) thread.join();
    sys_close(fd);
    kernel_set_unused_vnode_limit(256);
}

}  // namespace
