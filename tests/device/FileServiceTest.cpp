// The Series 3 file service against a temporary folder, request by request, with the reply
// bytes checked.
#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>

#include "DeviceTestSupport.h"

using namespace devtest;
using namespace handheld;

namespace {

class FileServiceTest : public ::testing::Test {
protected:
    TempFolder folder;
    Series3 device{{Drive('M', "INTERNAL", folder.Path())}};
};

TEST_F(FileServiceTest, RepliesCarryResponseCodeLengthAndStatus) {
    folder.Write("A.TXT", "hello");
    Bytes r = device.Send(FINFO, Payload().Str("M:\\A.TXT"));
    ASSERT_EQ(r.size(), 22u);  // header, status, 16-byte entry
    EXPECT_EQ(Word(r, 0), RFSV_REPLY_CODE);
    EXPECT_EQ(Word(r, 2), 18);
    EXPECT_EQ(Status(r), 0);
    EXPECT_EQ(Word(r, 8) & (RFSV_ATTR_WRITABLE | RFSV_ATTR_DIRECTORY), RFSV_ATTR_WRITABLE);
    EXPECT_EQ(Long(r, 10), 5u);
    struct stat st;
    ASSERT_EQ(stat((folder / "A.TXT").c_str(), &st), 0);
    EXPECT_EQ(Long(r, 14), static_cast<uint32>(st.st_mtime));
}

TEST_F(FileServiceTest, FinfoStatusesForMissingEntriesDirectoriesAndDrives) {
    folder.Write("DOCS/A.TXT", "x");
    EXPECT_EQ(Status(device.Send(FINFO, Payload().Str("M:\\NONE.TXT"))), RFSV_NOT_FOUND);
    EXPECT_EQ(Status(device.Send(FINFO, Payload().Str("M:\\NODIR\\A.TXT"))),
              RFSV_NO_SUCH_DIRECTORY);
    EXPECT_EQ(Status(device.Send(FINFO, Payload().Str("Q:\\A.TXT"))), RFSV_NO_SUCH_DEVICE);
    Bytes dir = device.Send(FINFO, Payload().Str("M:\\DOCS\\"));
    ASSERT_EQ(Status(dir), 0);
    EXPECT_TRUE(Word(dir, 8) & RFSV_ATTR_DIRECTORY);
    // Lookups ignore case.
    EXPECT_EQ(Status(device.Send(FINFO, Payload().Str("m:\\docs\\a.txt"))), 0);
}

TEST_F(FileServiceTest, NamesFollowSeries3Rules) {
    EXPECT_EQ(device.Open(0x0302, "M:\\LONGNAME9.TXT"), RFSV_BAD_NAME - 1000);
    EXPECT_EQ(device.Open(0x0302, "M:\\A.TEXT"), RFSV_BAD_NAME - 1000);
    EXPECT_EQ(device.Open(0x0302, "M:\\A.B.C"), RFSV_BAD_NAME - 1000);
    EXPECT_EQ(device.Open(0x0302, "M:\\A B.TXT"), RFSV_BAD_NAME - 1000);
    EXPECT_EQ(device.Open(0x0302, "M:\\..\\ESCAPE.TXT"), RFSV_BAD_NAME - 1000);
    EXPECT_EQ(device.Open(0x0302, "M:\\A/B.TXT"), RFSV_BAD_NAME - 1000);
    EXPECT_EQ(device.Open(0x0302, "M:\\*.TXT"), RFSV_BAD_NAME - 1000);
    // Stored upper case, found in any case.
    int h = device.Open(0x0302, "M:\\note.txt");
    ASSERT_GE(h, 0);
    EXPECT_TRUE(folder.Exists("NOTE.TXT"));
    EXPECT_FALSE(folder.Exists("note.txt"));
    EXPECT_EQ(Status(device.Send(FCLOSE, Payload().Word(h))), 0);
    EXPECT_GE(device.Open(0x0200, "M:\\NoTe.TxT"), 0);
}

TEST(FileServiceRelaxed, RelaxedNamesKeepLongNamesAndCase) {
    TempFolder folder;
    Series3 device({Drive('M', "INTERNAL", folder.Path())}, true);
    int h = device.Open(0x0302, "M:\\A long Name.text");
    ASSERT_GE(h, 0);
    EXPECT_TRUE(folder.Exists("A long Name.text"));
    EXPECT_GE(device.Open(0x0200, "M:\\a LONG name.TEXT"), 0);
    EXPECT_EQ(device.Open(0x0302, "M:\\..\\x"), RFSV_BAD_NAME - 1000);
}

TEST_F(FileServiceTest, OpenModesExistingCreateReplaceAppend) {
    EXPECT_EQ(device.Open(0x0200, "M:\\NEW.TXT"), RFSV_NOT_FOUND - 1000);
    EXPECT_EQ(device.Open(0x0200, "M:\\NODIR\\NEW.TXT"), RFSV_NO_SUCH_DIRECTORY - 1000);
    int h = device.Open(0x0301, "M:\\NEW.TXT");  // create new
    ASSERT_GE(h, 0);
    EXPECT_EQ(device.Open(0x0301, "M:\\NEW.TXT"), RFSV_EXISTS - 1000);
    EXPECT_EQ(Status(device.Send(FWRITE, Payload().Word(h).Raw({'a', 'b', 'c'}))), 0);
    device.Send(FCLOSE, Payload().Word(h));
    EXPECT_EQ(folder.Read("NEW.TXT"), "abc");

    // Append: the position starts at the end.
    h = device.Open(0x0303, "M:\\NEW.TXT");
    ASSERT_GE(h, 0);
    device.Send(FWRITE, Payload().Word(h).Raw({'d'}));
    device.Send(FCLOSE, Payload().Word(h));
    EXPECT_EQ(folder.Read("NEW.TXT"), "abcd");

    // Append creates a missing file too.
    h = device.Open(0x0303, "M:\\APP.TXT");
    ASSERT_GE(h, 0);
    EXPECT_TRUE(folder.Exists("APP.TXT"));

    // Replace truncates.
    h = device.Open(0x0302, "M:\\NEW.TXT");
    ASSERT_GE(h, 0);
    EXPECT_EQ(folder.Read("NEW.TXT"), "");

    // A directory does not open as a file.
    folder.Write("SUB/X.TXT", "");
    EXPECT_EQ(device.Open(0x0200, "M:\\SUB"), RFSV_ACCESS_DENIED - 1000);
}

TEST_F(FileServiceTest, ReadGivesAtMost511BytesAndEndsWithEndOfFile) {
    folder.Write("BIG.TXT", std::string(1200, 'z'));
    int h = device.Open(0x0200, "M:\\BIG.TXT");
    ASSERT_GE(h, 0);
    size_t total = 0;
    std::vector<size_t> chunks;
    for (;;) {
        Bytes r = device.Send(FREAD, Payload().Word(h).Word(600));
        if (Status(r) == RFSV_END_OF_FILE) {
            EXPECT_EQ(r.size(), 6u);
            break;
        }
        ASSERT_EQ(Status(r), 0);
        chunks.push_back(r.size() - 6);
        EXPECT_EQ(Word(r, 2), r.size() - 4);
        total += r.size() - 6;
        ASSERT_LT(chunks.size(), 10u);
    }
    EXPECT_EQ(chunks, (std::vector<size_t>{511, 511, 178}));
    EXPECT_EQ(total, 1200u);
    // A read-only open refuses writes.
    EXPECT_EQ(Status(device.Send(FWRITE, Payload().Word(h).Raw({'x'}))), RFSV_ACCESS_DENIED);
    EXPECT_EQ(Status(device.Send(FREAD, Payload().Word(999).Word(10))), RFSV_BAD_HANDLE);
}

TEST_F(FileServiceTest, SeekModesFromStartCurrentAndEnd) {
    folder.Write("S.TXT", "0123456789");
    int h = device.Open(0x0200, "M:\\S.TXT");
    ASSERT_GE(h, 0);
    Bytes r = device.Send(FSEEK, Payload().Word(h).Long(4).Word(RFSV_SEEK_FROM_START));
    ASSERT_EQ(Status(r), 0);
    ASSERT_EQ(r.size(), 10u);
    EXPECT_EQ(Long(r, 6), 4u);
    r = device.Send(FSEEK, Payload().Word(h).Long(2).Word(RFSV_SEEK_FROM_CURRENT));
    EXPECT_EQ(Long(r, 6), 6u);
    r = device.Send(FREAD, Payload().Word(h).Word(2));
    EXPECT_EQ(std::string(r.begin() + 6, r.end()), "67");
    r = device.Send(FSEEK,
                    Payload().Word(h).Long(static_cast<uint32>(-3)).Word(RFSV_SEEK_FROM_END));
    EXPECT_EQ(Long(r, 6), 7u);
    r = device.Send(FSEEK,
                    Payload().Word(h).Long(static_cast<uint32>(-1)).Word(RFSV_SEEK_FROM_START));
    EXPECT_EQ(Status(r), RFSV_BAD_ARGUMENT);
    r = device.Send(FSEEK, Payload().Word(h).Long(0).Word(7));
    EXPECT_EQ(Status(r), RFSV_BAD_ARGUMENT);
    // Reading at the end is end of file.
    device.Send(FSEEK, Payload().Word(h).Long(0).Word(RFSV_SEEK_FROM_END));
    EXPECT_EQ(Status(device.Send(FREAD, Payload().Word(h).Word(5))), RFSV_END_OF_FILE);
}

TEST_F(FileServiceTest, WritesBeyondCapacityAreDiskFull) {
    TempFolder small;
    DriveSetup setup = Drive('A', "SSD", small.Path());
    setup.capacity = 1000;
    Series3 dev({setup});
    int h = dev.Open(0x0302, "A:\\F.BIN");
    ASSERT_GE(h, 0);
    Bytes chunk(503, 0x55);
    EXPECT_EQ(Status(dev.Send(FWRITE, Payload().Word(h).Raw(chunk))), 0);
    EXPECT_EQ(Status(dev.Send(FWRITE, Payload().Word(h).Raw(Bytes(497, 1)))), 0);
    EXPECT_EQ(Status(dev.Send(FWRITE, Payload().Word(h).Raw({1}))), RFSV_DISK_FULL);
    // Overwriting inside the file needs no room.
    dev.Send(FSEEK, Payload().Word(h).Long(0).Word(RFSV_SEEK_FROM_START));
    EXPECT_EQ(Status(dev.Send(FWRITE, Payload().Word(h).Raw({9, 9}))), 0);
    Bytes info = dev.Send(FDEVICEINFO, Payload().Str("A:"));
    EXPECT_EQ(Long(info, RFSV_INFO_TOTAL), 1000u);
    EXPECT_EQ(Long(info, RFSV_INFO_FREE), 0u);
    EXPECT_EQ(small.Read("F.BIN").size(), 1000u);
}

TEST_F(FileServiceTest, ReadOnlyMediaRefuseEveryChange) {
    TempFolder rom;
    rom.Write("FIXED.TXT", "rom");
    rom.Write("DIR/IN.TXT", "x");
    DriveSetup setup = Drive('A', "ROM", rom.Path());
    setup.mediaType = kMediaRom;
    Series3 dev({setup});
    EXPECT_EQ(dev.Open(0x0302, "A:\\NEW.TXT"), RFSV_WRITE_PROTECTED - 1000);
    EXPECT_EQ(dev.Open(0x0302, "A:\\FIXED.TXT"), RFSV_WRITE_PROTECTED - 1000);
    EXPECT_EQ(Status(dev.Send(MKDIR, Payload().Str("A:\\D"))), RFSV_WRITE_PROTECTED);
    EXPECT_EQ(Status(dev.Send(DELETE, Payload().Str("A:\\FIXED.TXT"))), RFSV_WRITE_PROTECTED);
    EXPECT_EQ(Status(dev.Send(RENAME, Payload().Str("A:\\FIXED.TXT").Str("A:\\B.TXT"))),
              RFSV_WRITE_PROTECTED);
    EXPECT_EQ(Status(dev.Send(SFDATE, Payload().Long(1000).Str("A:\\FIXED.TXT"))),
              RFSV_WRITE_PROTECTED);
    // An update open is granted; its writes are refused as read-only.
    int h = dev.Open(0x0300, "A:\\FIXED.TXT");
    ASSERT_GE(h, 0);
    EXPECT_EQ(Status(dev.Send(FWRITE, Payload().Word(h).Raw({'x'}))), RFSV_READ_ONLY_FILE);
    Bytes r = dev.Send(FREAD, Payload().Word(h).Word(10));
    EXPECT_EQ(std::string(r.begin() + 6, r.end()), "rom");
    EXPECT_EQ(rom.Read("FIXED.TXT"), "rom");
    // Entries show as not writable.
    Bytes finfo = dev.Send(FINFO, Payload().Str("A:\\FIXED.TXT"));
    EXPECT_EQ(Word(finfo, 8) & RFSV_ATTR_WRITABLE, 0);
}

TEST_F(FileServiceTest, ReadOnlyFlagReportsWriteProtectedMedia) {
    DriveSetup setup = Drive('B', "CARD", folder.Path());
    setup.mediaType = kMediaFlash;
    setup.readOnly = true;
    Series3 dev({setup});
    Bytes info = dev.Send(FDEVICEINFO, Payload().Str("B:"));
    EXPECT_EQ(Word(info, RFSV_INFO_MEDIA) & 0xFF, kMediaWriteProtected);
    EXPECT_EQ(Status(dev.Send(MKDIR, Payload().Str("B:\\D"))), RFSV_WRITE_PROTECTED);
}

TEST_F(FileServiceTest, ReadOnlyFileRefusesWritesAndDelete) {
    folder.Write("LOCKED.TXT", "keep");
    chmod((folder / "LOCKED.TXT").c_str(), 0444);
    EXPECT_EQ(device.Open(0x0302, "M:\\LOCKED.TXT"), RFSV_READ_ONLY_FILE - 1000);
    int h = device.Open(0x0300, "M:\\LOCKED.TXT");
    ASSERT_GE(h, 0);
    EXPECT_EQ(Status(device.Send(FWRITE, Payload().Word(h).Raw({'x'}))), RFSV_READ_ONLY_FILE);
    device.Send(FCLOSE, Payload().Word(h));
    EXPECT_EQ(Status(device.Send(DELETE, Payload().Str("M:\\LOCKED.TXT"))), RFSV_READ_ONLY_FILE);
    EXPECT_EQ(folder.Read("LOCKED.TXT"), "keep");
}

TEST_F(FileServiceTest, MkdirDeleteAndRename) {
    EXPECT_EQ(Status(device.Send(MKDIR, Payload().Str("M:\\docs"))), 0);
    EXPECT_TRUE(folder.Exists("DOCS"));
    EXPECT_EQ(Status(device.Send(MKDIR, Payload().Str("M:\\DOCS"))), RFSV_EXISTS);
    EXPECT_EQ(Status(device.Send(MKDIR, Payload().Str("M:\\NO\\SUB"))), RFSV_NO_SUCH_DIRECTORY);
    EXPECT_EQ(Status(device.Send(MKDIR, Payload().Str("M:\\TOOLONGNAME"))), RFSV_BAD_NAME);

    folder.Write("DOCS/A.TXT", "a");
    folder.Write("B.TXT", "b");
    // A directory that is not empty stays.
    EXPECT_EQ(Status(device.Send(DELETE, Payload().Str("M:\\DOCS\\"))), RFSV_ACCESS_DENIED);
    EXPECT_EQ(Status(device.Send(RENAME, Payload().Str("M:\\B.TXT").Str("M:\\DOCS\\A.TXT"))),
              RFSV_EXISTS);
    EXPECT_EQ(Status(device.Send(RENAME, Payload().Str("M:\\B.TXT").Str("M:\\DOCS\\c.txt"))), 0);
    EXPECT_EQ(folder.Read("DOCS/C.TXT"), "b");
    EXPECT_EQ(Status(device.Send(RENAME, Payload().Str("M:\\B.TXT").Str("M:\\D.TXT"))),
              RFSV_NOT_FOUND);
    // A directory cannot move below itself.
    device.Send(MKDIR, Payload().Str("M:\\DOCS\\INNER"));
    EXPECT_EQ(Status(device.Send(RENAME, Payload().Str("M:\\DOCS").Str("M:\\DOCS\\INNER\\X"))),
              RFSV_ACCESS_DENIED);
    EXPECT_EQ(Status(device.Send(RENAME, Payload().Str("M:\\DOCS").Str("M:\\PAPERS"))), 0);
    EXPECT_EQ(folder.Read("PAPERS/A.TXT"), "a");

    EXPECT_EQ(Status(device.Send(DELETE, Payload().Str("M:\\PAPERS\\A.TXT"))), 0);
    EXPECT_EQ(Status(device.Send(DELETE, Payload().Str("M:\\PAPERS\\A.TXT"))), RFSV_NOT_FOUND);
    EXPECT_EQ(Status(device.Send(DELETE, Payload().Str("M:\\PAPERS\\C.TXT"))), 0);
    EXPECT_EQ(Status(device.Send(DELETE, Payload().Str("M:\\PAPERS\\INNER\\"))), 0);
    EXPECT_EQ(Status(device.Send(DELETE, Payload().Str("M:\\PAPERS\\"))), 0);
    EXPECT_FALSE(folder.Exists("PAPERS"));
}

// The service keeps the names of a settled folder between requests; its own changes and
// changes made behind its back must both show at the next request.
TEST_F(FileServiceTest, NamesKeptBetweenRequestsFollowEveryChange) {
    folder.Write("DOCS/OLD.TXT", "o");
    const std::string docs = folder.Path() + "/DOCS";
    // Long settled, so that what is read of it is kept.
    auto settle = [&] {
        timespec past[2] = {{1600000000, 0}, {1600000000, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, docs.c_str(), past, 0), 0);
    };
    auto finfo = [&](const char* path) { return Status(device.Send(FINFO, Payload().Str(path))); };
    settle();
    EXPECT_EQ(finfo("M:\\DOCS\\NEW.TXT"), RFSV_NOT_FOUND);

    folder.Write("DOCS/new.txt", "behind");  // another letter case, behind the service's back
    EXPECT_EQ(finfo("M:\\DOCS\\NEW.TXT"), 0);
    settle();
    EXPECT_EQ(finfo("M:\\DOCS\\OLD.TXT"), 0);
    std::filesystem::remove(docs + "/OLD.TXT");
    EXPECT_EQ(finfo("M:\\DOCS\\OLD.TXT"), RFSV_NOT_FOUND);

    // The service's own changes, each followed by one behind its back in the same folder.
    settle();
    EXPECT_EQ(finfo("M:\\DOCS\\NEW.TXT"), 0);
    EXPECT_EQ(
        Status(device.Send(RENAME, Payload().Str("M:\\DOCS\\NEW.TXT").Str("M:\\DOCS\\R.TXT"))), 0);
    EXPECT_EQ(finfo("M:\\DOCS\\NEW.TXT"), RFSV_NOT_FOUND);
    EXPECT_EQ(finfo("M:\\DOCS\\r.txt"), 0);
    settle();
    EXPECT_EQ(Status(device.Send(MKDIR, Payload().Str("M:\\DOCS\\SUB"))), 0);
    EXPECT_EQ(finfo("M:\\DOCS\\SUB\\"), 0);
    settle();
    std::filesystem::rename(docs + "/SUB", docs + "/sub2");
    EXPECT_EQ(finfo("M:\\DOCS\\SUB\\"), RFSV_NOT_FOUND);
    EXPECT_EQ(finfo("M:\\DOCS\\SUB2\\"), 0);
    EXPECT_EQ(Status(device.Send(DELETE, Payload().Str("M:\\DOCS\\R.TXT"))), 0);
    EXPECT_EQ(finfo("M:\\DOCS\\R.TXT"), RFSV_NOT_FOUND);
    // A folder moved away and another made in its place is read afresh.
    settle();
    EXPECT_EQ(finfo("M:\\DOCS\\SUB2\\"), 0);
    std::filesystem::rename(docs, folder.Path() + "/AWAY");
    folder.Write("DOCS/FRESH.TXT", "f");
    settle();
    EXPECT_EQ(finfo("M:\\DOCS\\FRESH.TXT"), 0);
    EXPECT_EQ(finfo("M:\\DOCS\\SUB2\\"), RFSV_NOT_FOUND);
}

TEST_F(FileServiceTest, DeleteOfAnOpenFileIsRefused) {
    folder.Write("OPEN.TXT", "x");
    int h = device.Open(0x0200, "M:\\OPEN.TXT");
    ASSERT_GE(h, 0);
    EXPECT_EQ(Status(device.Send(DELETE, Payload().Str("M:\\OPEN.TXT"))), RFSV_ACCESS_DENIED);
    device.Send(FCLOSE, Payload().Word(h));
    EXPECT_EQ(Status(device.Send(DELETE, Payload().Str("M:\\OPEN.TXT"))), 0);
}

TEST_F(FileServiceTest, SfdateSetsWholeSeconds) {
    folder.Write("T.TXT", "t");
    ASSERT_EQ(Status(device.Send(SFDATE, Payload().Long(1234567890).Str("M:\\t.txt"))), 0);
    Bytes r = device.Send(FINFO, Payload().Str("M:\\T.TXT"));
    EXPECT_EQ(Long(r, 14), 1234567890u);
    EXPECT_EQ(Status(device.Send(SFDATE, Payload().Long(1).Str("M:\\NONE.TXT"))), RFSV_NOT_FOUND);
}

TEST_F(FileServiceTest, HandlesCloseOnceAndClosingTheSessionClosesItsHandles) {
    folder.Write("A.TXT", "a");
    int h = device.Open(0x0200, "M:\\A.TXT");
    ASSERT_GT(h, 0);
    EXPECT_EQ(Status(device.Send(FCLOSE, Payload().Word(h))), 0);
    EXPECT_EQ(Status(device.Send(FCLOSE, Payload().Word(h))), RFSV_BAD_HANDLE);
    h = device.Open(0x0200, "M:\\A.TXT");
    ASSERT_GT(h, 0);
    device.Reopen();  // the channel closed: its file is no longer open
    EXPECT_EQ(Status(device.Send(DELETE, Payload().Str("M:\\A.TXT"))), 0);
}

TEST_F(FileServiceTest, UnknownOpcodesAndBrokenLengthsAreRefused) {
    EXPECT_EQ(Status(device.Send(14)), RFSV_NOT_SUPPORTED);
    Bytes packet = Payload().Str("M:\\A.TXT").Packet(FINFO);
    packet[2] = 200;  // claims more payload than came
    EXPECT_EQ(Status(device.SendRaw(packet)), RFSV_BAD_ARGUMENT);
    EXPECT_EQ(Status(device.SendRaw({0, 0})), RFSV_BAD_ARGUMENT);
}

}  // namespace
