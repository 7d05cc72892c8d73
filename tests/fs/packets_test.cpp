// Request builders and reply parsers, byte for byte, and a randomized run of the parsers over
// malformed replies (run under AddressSanitizer, any read out of bounds fails it).
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <utility>

#include "Series3Bytes.h"
#include "tavro.h"
#include "tavro_rfsv.h"

namespace {

Bytes Built(const uint8* out, size_t size) { return Bytes(out, out + size); }

TEST(Packets, PathRequestsAreOpcodeLengthPathAndNul) {
    uint8 out[RFSV_REQUEST_BUFFER_SIZE];
    size_t n = build_path_request(out, sizeof out, FINFO, "M:\\ABC");
    EXPECT_EQ(Built(out, n), (Bytes{0x16, 0x00, 0x07, 0x00, 'M', ':', '\\', 'A', 'B', 'C', 0}));
    n = build_path_request(out, sizeof out, MKDIR, "M:\\D");
    EXPECT_EQ(Built(out, n), (Bytes{28, 0, 5, 0, 'M', ':', '\\', 'D', 0}));
    n = build_path_request(out, sizeof out, DELETE, "M:\\D\\");
    EXPECT_EQ(Built(out, n), (Bytes{20, 0, 6, 0, 'M', ':', '\\', 'D', '\\', 0}));
    // A request that would not fit its buffer is not built at all.
    EXPECT_EQ(build_path_request(out, 8, FINFO, "M:\\ABCD"), 0u);
}

TEST(Packets, HandleRequests) {
    uint8 out[16];
    size_t n = build_handle_request(out, FCLOSE, 5);
    EXPECT_EQ(Built(out, n), (Bytes{0x02, 0x00, 0x02, 0x00, 0x05, 0x00}));
    n = build_fread(out, 0x1234, 511);
    EXPECT_EQ(Built(out, n), (Bytes{4, 0, 4, 0, 0x34, 0x12, 0xFF, 0x01}));
    n = build_fseek(out, 3, -2, RFSV_SEEK_FROM_END);
    EXPECT_EQ(Built(out, n), (Bytes{12, 0, 8, 0, 3, 0, 0xFE, 0xFF, 0xFF, 0xFF, 2, 0}));
}

TEST(Packets, FopenFwriteRenameSfdate) {
    uint8 out[RFSV_REQUEST_BUFFER_SIZE];
    size_t n = build_fopen(out, sizeof out, 0x0302, "M:\\A");
    EXPECT_EQ(Built(out, n), (Bytes{0, 0, 7, 0, 0x02, 0x03, 'M', ':', '\\', 'A', 0}));

    uint8 data[503];
    for (size_t i = 0; i < sizeof data; i++) data[i] = static_cast<uint8>(i);
    n = build_fwrite(out, sizeof out, 9, data, sizeof data);
    ASSERT_EQ(n, 509u);
    EXPECT_EQ(Built(out, 6), (Bytes{10, 0, 0xF9, 0x01, 9, 0}));
    EXPECT_EQ(memcmp(out + 6, data, sizeof data), 0);
    EXPECT_EQ(build_fwrite(out, sizeof out, 9, data, 504), 0u);

    n = build_rename(out, sizeof out, "M:\\A", "M:\\BB");
    EXPECT_EQ(Built(out, n),
              (Bytes{18, 0, 11, 0, 'M', ':', '\\', 'A', 0, 'M', ':', '\\', 'B', 'B', 0}));
    n = build_sfdate(out, sizeof out, 0x01020304, "M:\\A");
    EXPECT_EQ(Built(out, n), (Bytes{40, 0, 9, 0, 4, 3, 2, 1, 'M', ':', '\\', 'A', 0}));
}

// The FOPEN mode word for each kind of open.
static_assert(open_mode_word(B_O_RDONLY, false) == 0x0200);
static_assert(open_mode_word(B_O_WRONLY, false) == 0x0300);
static_assert(open_mode_word(B_O_RDWR, false) == 0x0300);
static_assert(open_mode_word(B_O_RDONLY | B_O_CREAT, false) == 0x0202);
static_assert(open_mode_word(B_O_RDONLY | B_O_TRUNC, false) == 0x0202);
static_assert(open_mode_word(B_O_WRONLY | B_O_CREAT | B_O_TRUNC, false) == 0x0302);
static_assert(open_mode_word(B_O_RDWR | B_O_TRUNC, false) == 0x0302);
static_assert(open_mode_word(B_O_RDONLY | B_O_APPEND, false) == 0x0203);
static_assert(open_mode_word(B_O_WRONLY | B_O_APPEND, false) == 0x0303);
static_assert(open_mode_word(B_O_RDONLY, true) == 0x0030);

// The device's refusals, request by request.
static_assert(map_fopen_status(-33) == B_ENTRY_NOT_FOUND);
static_assert(map_fopen_status(-41) == B_ENTRY_NOT_FOUND);
static_assert(map_fopen_status(-42) == B_ENTRY_NOT_FOUND);
// A name the device cannot store is a bad name, not a long one.
static_assert(map_fopen_status(-38) == B_BAD_VALUE);
static_assert(map_fopen_status(-32) == B_FILE_EXISTS);
static_assert(map_fopen_status(-65) == B_READ_ONLY_DEVICE);
static_assert(map_fopen_status(-37) == B_DEVICE_FULL);
static_assert(map_fopen_status(-1) == B_BAD_VALUE);
static_assert(map_fwrite_status(-44) == B_READ_ONLY_DEVICE);
static_assert(map_fwrite_status(-37) == B_DEVICE_FULL);
static_assert(map_fwrite_status(-2) == B_BAD_VALUE);
static_assert(map_mkdir_status(-32) == B_FILE_EXISTS);
static_assert(map_mkdir_status(-38) == B_BAD_VALUE);
static_assert(map_mkdir_status(-41) == B_ENTRY_NOT_FOUND);
static_assert(map_mkdir_status(-65) == B_READ_ONLY_DEVICE);
static_assert(map_mkdir_status(-37) == B_DEVICE_FULL);
static_assert(map_mkdir_status(-3) == B_FILE_ERROR);
static_assert(map_sfdate_status(-38) == B_BAD_VALUE);
static_assert(map_sfdate_status(-65) == B_READ_ONLY_DEVICE);
static_assert(map_sfdate_status(-4) == B_FILE_ERROR);
static_assert(map_change_status(-33) == B_ENTRY_NOT_FOUND);
static_assert(map_change_status(-32) == B_FILE_EXISTS);
static_assert(map_change_status(-39) == B_BUSY);
static_assert(map_change_status(-44) == B_READ_ONLY_DEVICE);
static_assert(map_change_status(-65) == B_READ_ONLY_DEVICE);
static_assert(map_change_status(-38) == B_BAD_VALUE);
// A device that did not answer is an I/O fault or a time-out, never a lack of memory.
static_assert(missing_reply(B_BAD_PORT_ID) == B_IO_ERROR);
static_assert(missing_reply(B_TIMED_OUT) == B_TIMED_OUT);
static_assert(missing_reply(B_NO_MEMORY) == B_IO_ERROR);

// Whatever refusal the device sends, known to the tables or not, no request takes it for
// success.
TEST(Packets, EveryRefusalIsAFailure) {
    using Map = status_t (*)(int16);
    const std::pair<const char*, Map> maps[] = {{"FOPEN", map_fopen_status},
                                                {"FWRITE", map_fwrite_status},
                                                {"MKDIR", map_mkdir_status},
                                                {"SFDATE", map_sfdate_status},
                                                {"RENAME, DELETE, FINFO", map_change_status}};
    for (const auto& [name, map] : maps) {
        for (int status = INT16_MIN; status < 0; status++) {
            status_t mapped = map(static_cast<int16>(status));
            if (mapped >= B_OK) {
                ADD_FAILURE() << name << " takes " << status << " for " << mapped;
                break;
            }
        }
    }
}

TEST(Packets, FopenReplyNeedsItsHandle) {
    Bytes ok = Reply(0, {0xFE, 0xFF});
    EXPECT_EQ(parse_fopen_reply(ok.data(), ok.size()), 0xFFFE);  // a handle, never a status
    Bytes zero = Reply(0, {0, 0});
    EXPECT_EQ(parse_fopen_reply(zero.data(), zero.size()), 0);
    Bytes shortOk = Reply(0);  // status 0 but only 6 bytes
    EXPECT_EQ(parse_fopen_reply(shortOk.data(), shortOk.size()), B_IO_ERROR);
    Bytes missing = Reply(-33);
    EXPECT_EQ(parse_fopen_reply(missing.data(), missing.size()), B_ENTRY_NOT_FOUND);
    EXPECT_EQ(parse_fopen_reply(missing.data(), 5), B_IO_ERROR);
}

TEST(Packets, FreadReplyIsCutToWhatItHoldsAndWhatWasAsked) {
    Bytes reply = Reply(0, Bytes(10, 0xAA));
    const uint8* data;
    uint32 count;
    bool end;
    ASSERT_EQ(parse_fread_reply(reply.data(), reply.size(), 511, &data, &count, &end), B_OK);
    EXPECT_EQ(count, 10u);
    EXPECT_FALSE(end);
    // More data than was asked for, a length field that does not match the bytes that came
    // (a reply cut short on the way), an answer without data that is not the end of file, and
    // a mangled response code: none of them is believed.
    EXPECT_EQ(parse_fread_reply(reply.data(), reply.size(), 4, &data, &count, &end), B_IO_ERROR);
    EXPECT_EQ(parse_fread_reply(reply.data(), reply.size() - 3, 511, &data, &count, &end),
              B_IO_ERROR);
    reply[2] = 1;
    reply[3] = 0;
    EXPECT_EQ(parse_fread_reply(reply.data(), reply.size(), 511, &data, &count, &end), B_IO_ERROR);
    Bytes empty = Reply(0);
    EXPECT_EQ(parse_fread_reply(empty.data(), empty.size(), 511, &data, &count, &end), B_IO_ERROR);
    Bytes mangled = Reply(0, Bytes(10, 0xAA));
    mangled[0] = 0x2B;
    EXPECT_EQ(parse_fread_reply(mangled.data(), mangled.size(), 511, &data, &count, &end),
              B_IO_ERROR);

    Bytes eof = Reply(-36);
    ASSERT_EQ(parse_fread_reply(eof.data(), eof.size(), 511, &data, &count, &end), B_OK);
    EXPECT_TRUE(end);
    Bytes bad = Reply(-5);
    EXPECT_EQ(parse_fread_reply(bad.data(), bad.size(), 511, &data, &count, &end), B_FILE_ERROR);
    EXPECT_EQ(parse_fread_reply(bad.data(), 5, 511, &data, &count, &end), B_IO_ERROR);
}

TEST(Packets, FseekFinfoDeviceinfoReplies) {
    uint32 position = 0;
    Bytes seek = Reply(0, {0x10, 0x27, 0, 0});
    EXPECT_EQ(parse_fseek_reply(seek.data(), seek.size(), &position), B_OK);
    EXPECT_EQ(position, 10000u);
    EXPECT_EQ(parse_fseek_reply(seek.data(), 9, &position), B_IO_ERROR);
    Bytes shortSeek = Reply(0, {0x10, 0x27});
    EXPECT_EQ(parse_fseek_reply(shortSeek.data(), shortSeek.size(), &position), B_IO_ERROR);
    Bytes refused = Reply(-1);
    EXPECT_EQ(parse_fseek_reply(refused.data(), refused.size(), &position), B_FILE_ERROR);

    const uint8* header;
    Bytes info = Reply(0, Bytes(12, 0));
    EXPECT_EQ(parse_finfo_reply(info.data(), info.size(), &header), B_OK);
    Bytes cut = Reply(0, Bytes(11, 0));
    EXPECT_EQ(parse_finfo_reply(cut.data(), cut.size(), &header), B_IO_ERROR);
    // Only the device's "no such entry" is one; a reply that says nothing sure is not.
    Bytes missing = Reply(-33);
    EXPECT_EQ(parse_finfo_reply(missing.data(), missing.size(), &header), B_ENTRY_NOT_FOUND);
    EXPECT_EQ(parse_finfo_reply(info.data(), 17, &header), B_IO_ERROR);
    Bytes failed = Reply(-1);
    EXPECT_EQ(parse_finfo_reply(failed.data(), failed.size(), &header), B_IO_ERROR);

    device_info device;
    Bytes dev = Reply(0, Bytes(14, 0));
    dev[8] = 5;
    dev[12] = 0x00;
    dev[13] = 0x10;  // 4096 total
    dev[16] = 0x00;
    dev[17] = 0x08;  // 2048 free
    EXPECT_FALSE(parse_deviceinfo_reply(dev.data(), 19, &device));
    ASSERT_TRUE(parse_deviceinfo_reply(dev.data(), 20, &device));
    EXPECT_EQ(device.media, 5);
    EXPECT_EQ(device.total, 4096u);
    EXPECT_EQ(device.free, 2048u);
    EXPECT_STREQ(device.volume_name, "");
    // A volume name without its NUL ends with the reply.
    dev.insert(dev.end(), {'D', 'I', 'S', 'K'});
    dev[2] = static_cast<uint8>(dev.size() - 4);
    ASSERT_TRUE(parse_deviceinfo_reply(dev.data(), dev.size(), &device));
    EXPECT_STREQ(device.volume_name, "DISK");
}

TEST(Packets, DirectoryEntriesStayInsideTheReply) {
    // A 45-byte reply: a one-letter name at 8 (name at 24), a two-letter name at 26 (name at 42).
    Bytes reply = Concat({Reply(0, {0, 0}), Entry(0, 1, 2, "A"), Entry(0x10, 3, 4, "BC")});
    ASSERT_EQ(reply.size(), 45u);
    dir_entry entry;
    ASSERT_TRUE(parse_dir_entry(reply.data(), reply.size(), 8, &entry));
    EXPECT_STREQ(entry.name, "A");
    EXPECT_EQ(entry.name - reinterpret_cast<const char*>(reply.data()), 24);
    EXPECT_EQ(entry.next, 26u);
    ASSERT_TRUE(parse_dir_entry(reply.data(), reply.size(), 26, &entry));
    EXPECT_STREQ(entry.name, "BC");
    EXPECT_EQ(entry.next, 45u);
    EXPECT_FALSE(parse_dir_entry(reply.data(), reply.size(), 45, &entry));
    // A name that runs past the end, and a header cut short.
    EXPECT_FALSE(parse_dir_entry(reply.data(), reply.size() - 1, 26, &entry));
    EXPECT_FALSE(parse_dir_entry(reply.data(), 40, 26, &entry));
}

TEST(Packets, DirreadFcloseFwriteReplies) {
    size_t entries = 0;
    bool end = true;
    Bytes listing = Sealed(Concat({Reply(0, {0, 0}), Entry(0, 1, 2, "A")}));
    ASSERT_EQ(parse_dirread_reply(listing.data(), listing.size(), &entries, &end), B_OK);
    EXPECT_FALSE(end);
    EXPECT_EQ(entries, 8u);
    Bytes done = Reply(-36);
    ASSERT_EQ(parse_dirread_reply(done.data(), done.size(), &entries, &end), B_OK);
    EXPECT_TRUE(end);
    // Success with no entry after the two leading bytes, a refusal and a cut reply say nothing
    // sure about the listing.
    Bytes bare = Reply(0, {0, 0});
    EXPECT_EQ(parse_dirread_reply(bare.data(), bare.size(), &entries, &end), B_IO_ERROR);
    Bytes refused = Reply(-1);
    EXPECT_EQ(parse_dirread_reply(refused.data(), refused.size(), &entries, &end), B_IO_ERROR);
    EXPECT_EQ(parse_dirread_reply(listing.data(), listing.size() - 1, &entries, &end), B_IO_ERROR);

    Bytes closed = Reply(0);
    EXPECT_EQ(parse_fclose_reply(closed.data(), closed.size()), B_OK);
    Bytes notOpen = Reply(-8);  // a handle the device no longer had open is closed all the same
    EXPECT_EQ(parse_fclose_reply(notOpen.data(), notOpen.size()), B_OK);
    Bytes busy = Reply(-39);
    EXPECT_EQ(parse_fclose_reply(busy.data(), busy.size()), B_FILE_ERROR);
    EXPECT_EQ(parse_fclose_reply(closed.data(), 5), B_IO_ERROR);

    Bytes stored = Reply(0);
    EXPECT_EQ(parse_fwrite_reply(stored.data(), stored.size()), B_OK);
    Bytes full = Reply(-37);
    EXPECT_EQ(parse_fwrite_reply(full.data(), full.size()), B_DEVICE_FULL);
    Bytes extra = Reply(0, {0});  // a write reply carries no data
    EXPECT_EQ(parse_fwrite_reply(extra.data(), extra.size()), B_IO_ERROR);
}

TEST(Packets, RandomRepliesNeverReadOutOfBounds) {
    // Each reply is a separate allocation of exactly its size, so that AddressSanitizer sees
    // any read past it.
    std::mt19937 random(20261208);
    constexpr int kInputs = 200000;
    int parsed = 0;
    for (int i = 0; i < kInputs; i++) {
        size_t size = random() % 80;
        uint8* reply = new uint8[size];
        for (size_t j = 0; j < size; j++) reply[j] = static_cast<uint8>(random());
        // Whole frames with status 0 half the time, so that the parsers get past the checks.
        if (size >= 6 && random() % 2) {
            reply[0] = 0x2A;
            reply[1] = 0;
            reply[2] = static_cast<uint8>(size - 4);
            reply[3] = 0;
            reply[4] = reply[5] = 0;
        }
        const uint8* data;
        uint32 count = 0, position;
        bool end;
        if (parse_fread_reply(reply, size, random() % 600, &data, &count, &end) == B_OK &&
            count > 0) {
            ASSERT_GE(data, reply);
            ASSERT_LE(data + count, reply + size);
        }
        (void)parse_fopen_reply(reply, size);
        (void)parse_fseek_reply(reply, size, &position);
        const uint8* header;
        if (parse_finfo_reply(reply, size, &header) == B_OK) {
            ASSERT_LE(header + 12, reply + size);
        }
        device_info device;
        (void)parse_deviceinfo_reply(reply, size, &device);
        size_t offset = 8;
        dir_entry entry;
        while (parse_dir_entry(reply, size, offset, &entry)) {
            ASSERT_LE(entry.next, size);
            ASSERT_GT(entry.next, offset);
            offset = entry.next;
            parsed++;
        }
        delete[] reply;
    }
    RecordProperty("inputs", kInputs);
    EXPECT_GT(parsed, 0);  // the run reached the entry parser's success path too
}

}  // namespace
