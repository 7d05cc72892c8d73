// Listings: directory reads packed into replies of at most 590 bytes, the device list and
// the drive information record.
#include <set>

#include "DeviceTestSupport.h"

using namespace devtest;
using namespace handheld;

namespace {

struct Listed {
    std::string name;
    uint16 attributes;
    uint32 size;
};

// Reads a whole listing; each reply must fit 590 bytes and the last must be end of file.
std::vector<Listed> ListAll(Series3& device, int handle, size_t* replies = nullptr) {
    std::vector<Listed> entries;
    size_t count = 0;
    for (;;) {
        Bytes r = device.Send(FDIRREAD, Payload().Word(static_cast<uint16>(handle)));
        ++count;
        EXPECT_LE(r.size(), RFSV_MAX_DIRREAD_REPLY);
        if (Status(r) != 0) {
            EXPECT_EQ(Status(r), RFSV_END_OF_FILE);
            break;
        }
        size_t at = 8;
        EXPECT_GT(r.size(), 8u);
        while (at < r.size()) {
            EXPECT_LE(at + 17, r.size());
            if (at + 17 > r.size()) break;
            Listed entry{Text(r, at + 16), Word(r, at + 2), Long(r, at + 4)};
            at += 17 + entry.name.size();
            entries.push_back(entry);
        }
        EXPECT_EQ(at, r.size());
        if (count > 100) break;
    }
    if (replies != nullptr) *replies = count;
    return entries;
}

// Opens the listing of `pattern` and reads it whole.
std::vector<Listed> ListPattern(Series3& device, const char* pattern, size_t* replies = nullptr) {
    int handle = device.Open(RFSV_FORMAT_DIRECTORY, pattern);
    EXPECT_GT(handle, 0) << pattern;
    return handle > 0 ? ListAll(device, handle, replies) : std::vector<Listed>{};
}

TEST(DirectoryListing, EntriesCarryAttributesSizesAndNames) {
    TempFolder folder;
    folder.Write("B.TXT", "12345");
    folder.Write("SUB/INNER.TXT", "");
    folder.Write("lower.wrd", "abc");
    folder.Write("not valid name.txt", "");  // a Series 3 could not hold this name
    Series3 device({Drive('M', "INTERNAL", folder.Path())});
    int h = device.Open(0x0030, "M:\\*.*");
    ASSERT_GT(h, 0);
    std::vector<Listed> entries = ListAll(device, h);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, "B.TXT");
    EXPECT_EQ(entries[0].size, 5u);
    EXPECT_EQ(entries[0].attributes, RFSV_ATTR_WRITABLE);
    EXPECT_EQ(entries[1].name, "LOWER.WRD");
    EXPECT_EQ(entries[2].name, "SUB");
    EXPECT_TRUE(entries[2].attributes & RFSV_ATTR_DIRECTORY);
    // After the end, the end again.
    EXPECT_EQ(Status(device.Send(FDIRREAD, Payload().Word(h))), RFSV_END_OF_FILE);
}

TEST(DirectoryListing, ManyEntriesSpreadOverRepliesOfAtMost590Bytes) {
    TempFolder folder;
    for (int i = 0; i < 80; ++i) folder.Write("FILE" + std::to_string(i) + ".TXT", "x");
    Series3 device({Drive('M', "INTERNAL", folder.Path())});
    size_t replies = 0;
    std::vector<Listed> entries = ListPattern(device, "M:\\*.*", &replies);
    EXPECT_EQ(entries.size(), 80u);
    std::set<std::string> names;
    for (const Listed& e : entries) names.insert(e.name);
    EXPECT_EQ(names.size(), 80u);
    // About 25 entries of 27 to 28 bytes fit one reply: 4 replies of entries and the end.
    EXPECT_EQ(replies, 5u);
}

TEST(DirectoryListing, PatternsAndSubdirectories) {
    TempFolder folder;
    folder.Write("DOCS/A.TXT", "");
    folder.Write("DOCS/B.WRD", "");
    folder.Write("DOCS/README", "");
    Series3 device({Drive('M', "INTERNAL", folder.Path())});
    std::vector<Listed> txt = ListPattern(device, "M:\\DOCS\\*.TXT");
    ASSERT_EQ(txt.size(), 1u);
    EXPECT_EQ(txt[0].name, "A.TXT");
    // "*.*" also matches names without an extension.
    EXPECT_EQ(ListPattern(device, "m:\\docs\\*.*").size(), 3u);
    EXPECT_EQ(device.Open(0x0030, "M:\\NONE\\*.*"), RFSV_NO_SUCH_DIRECTORY - 1000);
    EXPECT_EQ(device.Open(0x0030, "X:\\*.*"), RFSV_NO_SUCH_DEVICE - 1000);
    // An empty directory lists nothing and ends at once.
    folder.Write("EMPTY/.keep-invisible-to-the-device", "");
    EXPECT_EQ(ListPattern(device, "M:\\EMPTY\\*.*").size(), 0u);
    // A file handle is no directory handle.
    int file = device.Open(0x0200, "M:\\DOCS\\A.TXT");
    EXPECT_EQ(Status(device.Send(FDIRREAD, Payload().Word(static_cast<uint16>(file)))),
              RFSV_BAD_HANDLE);
}

class DeviceListTest : public ::testing::Test {
protected:
    TempFolder internal, ssd;
    Series3 device{{Drive('M', "INTERNAL", internal.Path()), Drive('A', "WORK", ssd.Path())}};
};

TEST_F(DeviceListTest, DeviceListOpenHasNoPath) {
    // The mode word alone, payload length 2: 00 00 02 00 50 00.
    Bytes r = device.SendRaw({0x00, 0x00, 0x02, 0x00, 0x50, 0x00});
    ASSERT_EQ(Status(r), 0);
    ASSERT_EQ(r.size(), 8u);
    uint16 handle = Word(r, 6);
    Bytes first = device.Send(FDEVICEREAD, Payload().Word(handle));
    ASSERT_EQ(Status(first), 0);
    ASSERT_GT(first.size(), RFSV_DEVICEREAD_NAME + 2);
    EXPECT_EQ(Text(first, RFSV_DEVICEREAD_NAME), "M:");
    EXPECT_EQ(Text(first, RFSV_INFO_VOLUME_NAME), "INTERNAL");
    Bytes second = device.Send(FDEVICEREAD, Payload().Word(handle));
    ASSERT_EQ(Status(second), 0);
    EXPECT_EQ(Text(second, RFSV_DEVICEREAD_NAME), "A:");
    EXPECT_EQ(Text(second, RFSV_INFO_VOLUME_NAME), "WORK");
    Bytes end = device.Send(FDEVICEREAD, Payload().Word(handle));
    EXPECT_NE(Status(end), 0);
    EXPECT_EQ(Status(device.Send(FCLOSE, Payload().Word(handle))), 0);
}

TEST_F(DeviceListTest, DeviceInfoOffsets) {
    internal.Write("F.TXT", std::string(1000, 'f'));
    Bytes r = device.Send(FDEVICEINFO, Payload().Str("M:"));
    ASSERT_EQ(Status(r), 0);
    ASSERT_GT(r.size(), 20u);
    EXPECT_EQ(Word(r, RFSV_INFO_MEDIA) & 0xFF, kMediaRam);
    EXPECT_EQ(Long(r, RFSV_INFO_TOTAL), 2u * 1024 * 1024);
    EXPECT_EQ(Long(r, RFSV_INFO_FREE), 2u * 1024 * 1024 - 1000);
    EXPECT_EQ(Text(r, RFSV_INFO_VOLUME_NAME), "INTERNAL");
    // The device's own path form works as well.
    EXPECT_EQ(Status(device.Send(FDEVICEINFO, Payload().Str("a:\\"))), 0);
    EXPECT_EQ(Status(device.Send(FDEVICEINFO, Payload().Str("B:"))), RFSV_NO_SUCH_DEVICE);
    EXPECT_EQ(Status(device.Send(FDEVICEINFO, Payload().Str("nonsense"))), RFSV_NO_SUCH_DEVICE);
}

TEST_F(DeviceListTest, LongVolumeNamesAreCutToTheirField) {
    TempFolder other;
    Series3 dev({Drive('M', std::string(80, 'V'), other.Path())});
    Bytes r = dev.Send(FDEVICEINFO, Payload().Str("M:"));
    EXPECT_EQ(Text(r, RFSV_INFO_VOLUME_NAME).size(), RFSV_INFO_VOLUME_NAME_SIZE - 1);
}

}  // namespace
