// The Series 5 file service's bytes: every request tavro5 builds, and the parsing of every
// reply shape (statuses, entries with and without short names, padding, short replies).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include "Series5Bytes.h"
#include "epoc_text.h"
#include "epoc_time.h"
#include "epoc_wire.h"

namespace {

using namespace s5;

TEST(Series5Requests, EachRequestsBytes) {
    size_t c = epoc::kMaxRequest;
    Bytes f;
    // close handle 7
    {
        Bytes out(c);
        out.resize(epoc::build_handle_request(out.data(), c, epoc::kClose, 0x1234, 7));
        f = {};
        AppendLong(f, 7);
        EXPECT_EQ(out, Request(0x01, 0x1234, f));
    }
    // open dir: attributes, then the pattern as len(u16) + bytes
    {
        Bytes out(c);
        out.resize(epoc::build_open_dir(out.data(), c, 2, 0x10000016, "C:\\Docs\\*"));
        f = {};
        AppendLong(f, 0x10000016);
        PutString(f, "C:\\Docs\\*");
        EXPECT_EQ(out, Request(0x10, 2, f));
        EXPECT_EQ(out[8], 9);  // the string's length, little-endian u16
        EXPECT_EQ(out[9], 0);
    }
    // volume of drive C (index 2)
    {
        Bytes out(c);
        out.resize(epoc::build_volume(out.data(), c, 3, 2));
        EXPECT_EQ(out, (Bytes{0x14, 0, 3, 0, 2, 0, 0, 0}));
    }
    // open, create and replace: mode, then the name
    for (uint16 op : {epoc::kOpenFile, epoc::kCreateFile, epoc::kReplaceFile}) {
        Bytes out(c);
        out.resize(epoc::build_open_file(out.data(), c, op, 4, 0x202, "C:\\a b.txt"));
        f = {};
        AppendLong(f, 0x202);
        PutString(f, "C:\\a b.txt");
        EXPECT_EQ(out, Request(op, 4, f));
    }
    // read: handle, length
    {
        Bytes out(c);
        out.resize(epoc::build_read(out.data(), c, 5, 9, 2048));
        EXPECT_EQ(out, (Bytes{0x18, 0, 5, 0, 9, 0, 0, 0, 0x00, 0x08, 0, 0}));
    }
    // write: handle, then the data with no length of their own
    {
        Bytes out(c);
        uint8 data[3] = {0xAA, 0xBB, 0xCC};
        out.resize(epoc::build_write(out.data(), c, 6, 9, data, 3));
        EXPECT_EQ(out, (Bytes{0x19, 0, 6, 0, 9, 0, 0, 0, 0xAA, 0xBB, 0xCC}));
        std::vector<uint8> big(epoc::kMaxChunk + 1);
        Bytes again(c);
        EXPECT_EQ(epoc::build_write(again.data(), c, 6, 9, big.data(), big.size()), 0u);
        EXPECT_EQ(epoc::build_write(again.data(), c, 6, 9, big.data(), epoc::kMaxChunk),
                  8 + epoc::kMaxChunk);
    }
    // seek: the offset FIRST, then the handle and the sense
    {
        Bytes out(c);
        out.resize(epoc::build_seek(out.data(), c, 7, 100000, 9, epoc::kSeekStart));
        EXPECT_EQ(out, (Bytes{0x1A, 0, 7, 0, 0xA0, 0x86, 0x01, 0, 9, 0, 0, 0, 1, 0, 0, 0}));
    }
    // set size: handle, size
    {
        Bytes out(c);
        out.resize(epoc::build_set_size(out.data(), c, 8, 9, 70000));
        EXPECT_EQ(out, (Bytes{0x1E, 0, 8, 0, 9, 0, 0, 0, 0x70, 0x11, 0x01, 0}));
    }
    // rename and replace: old, new
    for (uint16 op : {epoc::kRename, epoc::kReplace}) {
        Bytes out(c);
        out.resize(epoc::build_rename(out.data(), c, op, 9, "C:\\a", "C:\\B\\c"));
        f = {};
        PutString(f, "C:\\a");
        PutString(f, "C:\\B\\c");
        EXPECT_EQ(out, Request(op, 9, f));
    }
    // path requests: delete, remote entry, make dir, remove dir, attributes, modified
    for (uint16 op : {epoc::kDelete, epoc::kRemoteEntry, epoc::kMkdirAll, epoc::kRmdir,
                      epoc::kAttributes, epoc::kModified}) {
        Bytes out(c);
        out.resize(epoc::build_path_request(out.data(), c, op, 10, "C:\\x"));
        EXPECT_EQ(out, (Bytes{static_cast<uint8>(op), 0, 10, 0, 4, 0, 'C', ':', '\\', 'x'}));
    }
    // set attributes: set, clear, name
    {
        Bytes out(c);
        out.resize(epoc::build_set_attributes(out.data(), c, 11, 1, 0, "C:\\x"));
        EXPECT_EQ(out, (Bytes{0x22, 0, 11, 0, 1, 0, 0, 0, 0, 0, 0, 0, 4, 0, 'C', ':', '\\', 'x'}));
    }
    // set modified: low word, high word, name
    {
        Bytes out(c);
        out.resize(epoc::build_set_modified(out.data(), c, 12, 0x00DCDCC1A9170000ull, "C:\\x"));
        EXPECT_EQ(out, (Bytes{0x24, 0, 12, 0, 0x00, 0x00, 0x17, 0xA9, 0xC1, 0xDC, 0xDC, 0x00, 4, 0,
                              'C', ':', '\\', 'x'}));
    }
}

TEST(Series5Requests, ThatDoNotFitAreNotBuilt) {
    Bytes out(16);
    EXPECT_EQ(epoc::build_path_request(out.data(), out.size(), epoc::kDelete, 1, "C:\\0123456789"),
              0u);
    EXPECT_EQ(epoc::build_path_request(out.data(), out.size(), epoc::kDelete, 1, "C:\\0123456"),
              16u);
    EXPECT_EQ(epoc::build_seek(out.data(), 15, 1, 0, 1, 1), 0u);
}

TEST(Series5Replies, HeaderStatusesAndFields) {
    epoc::reply_header h;
    Bytes ok = Reply(0x0102, 0, {5, 0, 0, 0});
    ASSERT_TRUE(epoc::parse_header(ok.data(), ok.size(), &h));
    EXPECT_EQ(h.opid, 0x0102);
    EXPECT_EQ(h.status, 0);
    uint32 handle;
    EXPECT_TRUE(epoc::parse_u32(ok.data(), ok.size(), 0, &handle));
    EXPECT_EQ(handle, 5u);
    EXPECT_FALSE(epoc::parse_u32(ok.data(), ok.size() - 1, 0, &handle));
    EXPECT_FALSE(epoc::parse_u32(ok.data(), ok.size(), 1, &handle));

    Bytes bad = Reply(1, -25);
    ASSERT_TRUE(epoc::parse_header(bad.data(), bad.size(), &h));
    EXPECT_EQ(h.status, epoc::kEndOfFile);
    // Too short, or not a Series 5 reply at all.
    EXPECT_FALSE(epoc::parse_header(bad.data(), 7, &h));
    Bytes series3 = bad;
    series3[0] = 0x2A;
    EXPECT_FALSE(epoc::parse_header(series3.data(), series3.size(), &h));

    EXPECT_EQ(epoc::map_status(-1), B_ENTRY_NOT_FOUND);
    EXPECT_EQ(epoc::map_status(-12), B_ENTRY_NOT_FOUND);
    EXPECT_EQ(epoc::map_status(-11), B_FILE_EXISTS);
    EXPECT_EQ(epoc::map_status(-14), B_BUSY);
    EXPECT_EQ(epoc::map_status(-21), B_PERMISSION_DENIED);
    EXPECT_EQ(epoc::map_status(-26), B_DEVICE_FULL);
    EXPECT_EQ(epoc::map_status(-28), B_BAD_VALUE);
    EXPECT_EQ(epoc::map_status(-2), B_IO_ERROR);
    EXPECT_EQ(epoc::map_status(-99), B_IO_ERROR);

    uint64 time;
    Bytes modified = Reply(1, 0, {0x00, 0x00, 0x17, 0xA9, 0xC1, 0xDC, 0xDC, 0x00});
    ASSERT_TRUE(epoc::parse_modified(modified.data(), modified.size(), &time));
    EXPECT_EQ(time, 0x00DCDCC1A9170000ull);
    EXPECT_FALSE(epoc::parse_modified(modified.data(), modified.size() - 1, &time));
}

TEST(Series5Replies, ReadDataAreCutToWhatWasAsked) {
    Bytes reply = Reply(1, 0, {1, 2, 3, 4, 5});
    const uint8* data;
    size_t count;
    epoc::parse_read(reply.data(), reply.size(), 3, &data, &count);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(data[0], 1);
    epoc::parse_read(reply.data(), reply.size(), 100, &data, &count);
    EXPECT_EQ(count, 5u);
    epoc::parse_read(reply.data(), 8, 100, &data, &count);
    EXPECT_EQ(count, 0u);
}

TEST(Series5Replies, EntriesWithAndWithoutShortNamesAndTheirPadding) {
    // "Long file name.txt" (18 bytes) with a short name; "AB" without; "x" (a directory).
    Bytes reply = EntriesReply(
        1, {{"Long file name.txt", 0x21, 1234, 0x00DCDCC1A9170000ull, "LONGFI~1.TXT", 0x10000085},
            {"AB", 0x01, 7, 5, ""},
            {"x", 0x10, 0, 6, ""}});
    epoc::dir_entry e;
    ASSERT_TRUE(epoc::parse_dir_entry(reply.data(), reply.size(), 8, &e));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(e.long_name), e.long_length),
              "Long file name.txt");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(e.short_name), e.short_length),
              "LONGFI~1.TXT");
    EXPECT_EQ(e.attributes, 0x21u);
    EXPECT_EQ(e.size, 1234u);
    EXPECT_EQ(e.modified, 0x00DCDCC1A9170000ull);
    EXPECT_EQ(e.uid[2], 0x10000085u);
    // 8 + 36 + 18 = 62, padded to 64 for the short name, which ends at 76.
    EXPECT_EQ(e.next, 76u);

    ASSERT_TRUE(epoc::parse_dir_entry(reply.data(), reply.size(), e.next, &e));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(e.long_name), e.long_length), "AB");
    EXPECT_EQ(e.short_name, e.long_name);  // no short name: both names are the same
    EXPECT_EQ(e.next, 76u + 36 + 2);

    // The third entry starts at the next multiple of 4.
    ASSERT_TRUE(epoc::parse_dir_entry(reply.data(), reply.size(), e.next, &e));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(e.long_name), e.long_length), "x");
    EXPECT_EQ(e.attributes, 0x10u);
    // No padding is needed after the last entry.
    EXPECT_EQ(e.next, reply.size());
    EXPECT_FALSE(epoc::parse_dir_entry(reply.data(), reply.size(), e.next, &e));
}

TEST(Series5Replies, EntriesThatRunPastTheReplyAreRefused) {
    Bytes reply = EntriesReply(1, {{"Name.txt", 0x20, 1, 1, "NAME~1.TXT"}});
    epoc::dir_entry e;
    ASSERT_TRUE(epoc::parse_dir_entry(reply.data(), reply.size(), 8, &e));
    // Any shorter reply cuts the short name, the long name or the fixed fields.
    for (size_t size = 8; size < reply.size(); size++)
        EXPECT_FALSE(epoc::parse_dir_entry(reply.data(), size, 8, &e)) << size;
    // A long name length beyond the reply (even one that would wrap an offset).
    Bytes huge = reply;
    LongToBytes(0xFFFFFFF0u, huge.data() + 8 + 32);
    EXPECT_FALSE(epoc::parse_dir_entry(huge.data(), huge.size(), 8, &e));
    Bytes shortHuge = reply;
    LongToBytes(0xFFFFFFFFu, shortHuge.data() + 8);
    EXPECT_FALSE(epoc::parse_dir_entry(shortHuge.data(), shortHuge.size(), 8, &e));
    // An empty long name is no entry.
    Bytes empty = EntriesReply(1, {{"", 0x20, 1, 1, ""}});
    EXPECT_FALSE(epoc::parse_dir_entry(empty.data(), empty.size(), 8, &e));
}

TEST(Series5Replies, VolumeInformation) {
    Bytes data;
    for (uint32 v : {7u, 0u, 0u, 4u, 0x1234u, 0x00100000u, 1u, 0x8000u, 0u, 8u})
        AppendLong(data, v);
    std::string label = "Internal";
    data.insert(data.end(), label.begin(), label.end());
    Bytes reply = Reply(1, 0, data);
    epoc::volume_info info;
    ASSERT_TRUE(epoc::parse_volume(reply.data(), reply.size(), &info));
    EXPECT_EQ(info.media, 7u);
    EXPECT_EQ(info.media_attributes, 4u);
    EXPECT_EQ(info.size, 0x100100000ull);
    EXPECT_EQ(info.free, 0x8000u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(info.label), info.label_length),
              "Internal");
    // A label that runs past the reply, and a reply without the label length.
    EXPECT_FALSE(epoc::parse_volume(reply.data(), reply.size() - 1, &info));
    EXPECT_FALSE(epoc::parse_volume(reply.data(), 8 + 36, &info));
}

TEST(Series5Names, Utf8AndTheCodePageBothWays) {
    std::string wire;
    ASSERT_EQ(epoc::utf8_to_wire("Café €5 – naïve.txt", &wire), B_OK);
    EXPECT_EQ(wire,
              "Caf\xE9 \x80"
              "5 \x96 na\xEFve.txt");
    EXPECT_EQ(epoc::wire_to_utf8(reinterpret_cast<const uint8*>(wire.data()), wire.size()),
              "Café €5 – naïve.txt");
    // Every byte has a character and comes back as itself.
    std::string all;
    for (int b = 1; b < 256; b++) all += static_cast<char>(b);
    std::string utf8 = epoc::wire_to_utf8(reinterpret_cast<const uint8*>(all.data()), all.size());
    ASSERT_EQ(epoc::utf8_to_wire(utf8.c_str(), &wire), B_OK);
    EXPECT_EQ(wire, all);
    // Characters the code page lacks, and text that is not UTF-8, are refused, never mangled.
    EXPECT_EQ(epoc::utf8_to_wire("日本.txt", &wire), B_BAD_VALUE);
    EXPECT_EQ(epoc::utf8_to_wire("smile 😀", &wire), B_BAD_VALUE);
    EXPECT_EQ(epoc::utf8_to_wire("bad \xE9 byte", &wire), B_BAD_VALUE);
    EXPECT_EQ(epoc::utf8_to_wire("over\xC0\xAFlong", &wire), B_BAD_VALUE);
}

TEST(Series5Names, WhatANameMayHold) {
    std::string wire;
    EXPECT_EQ(epoc::check_name("My Letter.wrd", &wire), B_OK);
    for (const char* bad :
         {"", ".", "..", "a\\b", "a*", "a?", "a:b", "a\"b", "a<b", "a|b", "tab\tname"})
        EXPECT_EQ(epoc::check_name(bad, &wire), B_BAD_VALUE) << bad;
    EXPECT_EQ(epoc::check_name(std::string(253, 'a').c_str(), &wire), B_OK);
    EXPECT_EQ(epoc::check_name(std::string(254, 'a').c_str(), &wire), B_NAME_TOO_LONG);
    std::string upper, lower;
    ASSERT_EQ(epoc::utf8_to_wire("ÀÉÎ ŠŒŽŸ README", &upper), B_OK);
    ASSERT_EQ(epoc::utf8_to_wire("àéî šœžÿ readme", &lower), B_OK);
    EXPECT_EQ(epoc::fold_case(upper), epoc::fold_case(lower));
    EXPECT_NE(epoc::fold_case("a"), epoc::fold_case("b"));
}

class Series5Time : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = getenv("TZ");
        saved = old != nullptr ? old : "";
        had = old != nullptr;
    }
    void TearDown() override {
        if (had)
            setenv("TZ", saved.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    void Zone(const char* zone) {
        setenv("TZ", zone, 1);
        tzset();
    }
    std::string saved;
    bool had = false;
};

TEST_F(Series5Time, TheEpochAndTheUsersTimeZone) {
    Zone("UTC0");
    // 1970-01-01 00:00 is the named constant in microseconds.
    EXPECT_EQ(epoc::to_device_time(0, 0), 0x00DCDCC1A9170000ull);
    EXPECT_EQ(epoc::kEpochToUnixSeconds, 62167219200);
    // The handheld's clock is local time: an hour ahead in Central Europe in winter, two in
    // summer.
    Zone("CET-1CEST,M3.5.0,M10.5.0/3");
    int64 winter = 1049522828 - 86400 * 60;  // 2003-02-04
    EXPECT_EQ(epoc::to_device_time(winter, 0),
              static_cast<uint64>(winter + 3600 + 62167219200) * 1000000);
    EXPECT_EQ(epoc::to_device_time(1049522828, 0),  // 2003-04-05, summer time
              static_cast<uint64>(1049522828 + 7200 + 62167219200) * 1000000);
    // Both ways, with the microseconds.
    for (int64 t : {int64{0}, winter, int64{1049522828}, int64{1700000000}}) {
        int64 s, ns;
        epoc::from_device_time(epoc::to_device_time(t, 123456000), &s, &ns);
        EXPECT_EQ(s, t);
        EXPECT_EQ(ns, 123456000);
    }
}

}  // namespace
