// Named, typed fields of a message and the flattened form that carries them through ports.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "kits/Message.h"
#include "kits/Messenger.h"

TEST(MessageFields, EachTypeReadsBackWhatWasAdded) {
    BMessage message('test');
    const uint8 raw[] = {1, 2, 3, 0, 0xFF};
    ASSERT_EQ(message.AddString("server", "SYS$RFSV"), B_OK);
    ASSERT_EQ(message.AddInt16("chan_id", static_cast<int16>(0x8001)), B_OK);
    ASSERT_EQ(message.AddInt32("port_id", -77), B_OK);
    ASSERT_EQ(message.AddData("command", B_RAW_TYPE, raw, sizeof(raw)), B_OK);
    ASSERT_EQ(message.AddBool("be:value", true), B_OK);
    ASSERT_EQ(message.AddInt64("when", 1234567890123LL), B_OK);

    const char* server;
    int16 chan;
    int32 port;
    const void* data;
    ssize_t size;
    bool value;
    int64 when;
    ASSERT_EQ(message.FindString("server", &server), B_OK);
    EXPECT_STREQ(server, "SYS$RFSV");
    ASSERT_EQ(message.FindInt16("chan_id", &chan), B_OK);
    // A channel id above 0x7FFF reads back negative, and its 16 bits unchanged.
    EXPECT_EQ(chan, -32767);
    EXPECT_EQ(static_cast<uint16>(chan), 0x8001);
    ASSERT_EQ(message.FindInt32("port_id", &port), B_OK);
    EXPECT_EQ(port, -77);
    ASSERT_EQ(message.FindData("command", B_RAW_TYPE, &data, &size), B_OK);
    ASSERT_EQ(size, 5);
    EXPECT_EQ(std::memcmp(data, raw, 5), 0);
    ASSERT_EQ(message.FindBool("be:value", &value), B_OK);
    EXPECT_TRUE(value);
    ASSERT_EQ(message.FindInt64("when", &when), B_OK);
    EXPECT_EQ(when, 1234567890123LL);
    EXPECT_EQ(message.CountNames(B_ANY_TYPE), 6);
    EXPECT_EQ(message.CountNames(B_INT32_TYPE), 1);
}

TEST(MessageFields, FindReportsWhyNothingWasFound) {
    BMessage message('test');
    ASSERT_EQ(message.AddInt32("port_id", 5), B_OK);
    int32 value;
    int16 small;
    const char* string;
    EXPECT_EQ(message.FindInt32("chan_id", &value), B_NAME_NOT_FOUND);
    EXPECT_EQ(message.FindInt16("port_id", &small), B_BAD_TYPE);
    EXPECT_EQ(message.FindString("port_id", &string), B_BAD_TYPE);
    EXPECT_EQ(message.FindInt32("port_id", 1, &value), B_BAD_INDEX);
    EXPECT_EQ(message.FindInt32(nullptr, &value), B_BAD_VALUE);
    // A second item of another type is refused; one of the same type is appended.
    EXPECT_EQ(message.AddInt16("port_id", 1), B_BAD_TYPE);
    ASSERT_EQ(message.AddInt32("port_id", 6), B_OK);
    ASSERT_EQ(message.FindInt32("port_id", 1, &value), B_OK);
    EXPECT_EQ(value, 6);
    EXPECT_EQ(message.AddString("s", nullptr), B_BAD_VALUE);
}

TEST(MessageFields, FixedSizeFieldsKeepTheirSize) {
    BMessage message;
    const uint8 bytes[4] = {1, 2, 3, 4};
    ASSERT_EQ(message.AddData("data", B_RAW_TYPE, bytes, 4, true), B_OK);
    EXPECT_EQ(message.AddData("data", B_RAW_TYPE, bytes, 3, true), B_BAD_VALUE);
    ASSERT_EQ(message.AddData("var", B_RAW_TYPE, bytes, 4, false), B_OK);
    EXPECT_EQ(message.AddData("var", B_RAW_TYPE, bytes, 2, false), B_OK);
    EXPECT_EQ(message.ReplaceData("data", B_RAW_TYPE, bytes, 2), B_BAD_VALUE);
}

TEST(MessageFields, AFieldMayHoldAnItemWithoutBytes) {
    BMessage message('data');
    ASSERT_EQ(message.AddData("data", B_RAW_TYPE, nullptr, 0, true, 1), B_OK);
    const void* data = nullptr;
    ssize_t size = -1;
    ASSERT_EQ(message.FindData("data", B_RAW_TYPE, &data, &size), B_OK);
    EXPECT_EQ(size, 0);
    EXPECT_NE(data, nullptr);
    // Bytes without a buffer are not.
    EXPECT_EQ(message.AddData("other", B_RAW_TYPE, nullptr, 3), B_BAD_VALUE);
}

TEST(MessageFields, ReplaceRemoveAndEmpty) {
    BMessage message;
    ASSERT_EQ(message.AddInt32("be:value", 0), B_OK);
    ASSERT_EQ(message.ReplaceInt32("be:value", 1), B_OK);
    int32 value;
    ASSERT_EQ(message.FindInt32("be:value", &value), B_OK);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(message.ReplaceInt32("missing", 1), B_NAME_NOT_FOUND);
    ASSERT_EQ(message.AddString("path", "/mnt/psion"), B_OK);
    ASSERT_EQ(message.ReplaceString("path", "/media/a much longer path"), B_OK);
    const char* path;
    ASSERT_EQ(message.FindString("path", &path), B_OK);
    EXPECT_STREQ(path, "/media/a much longer path");
    EXPECT_EQ(message.RemoveName("path"), B_OK);
    EXPECT_EQ(message.RemoveName("path"), B_NAME_NOT_FOUND);
    EXPECT_FALSE(message.IsEmpty());
    message.MakeEmpty();
    EXPECT_TRUE(message.IsEmpty());
}

TEST(MessageFields, CopiesAreIndependent) {
    BMessage original('orig');
    ASSERT_EQ(original.AddString("name", "a"), B_OK);
    BMessage copy(original);
    ASSERT_EQ(copy.AddString("name", "b"), B_OK);
    int32 count = 0;
    ASSERT_EQ(original.GetInfo("name", nullptr, &count), B_OK);
    EXPECT_EQ(count, 1);
    ASSERT_EQ(copy.GetInfo("name", nullptr, &count), B_OK);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(copy.what, 'orig');
}

TEST(MessageFields, FlattenedMessageRoundTripsAndTruncationIsRefused) {
    BMessage message('pcmd');
    const uint8 packet[] = {0x00, 0x2B, 0x1A, 'L', 'I', 'N', 'K', 0x00};
    ASSERT_EQ(message.AddData("command", B_RAW_TYPE, packet, sizeof(packet)), B_OK);
    ASSERT_EQ(message.AddInt32("port_id", 37), B_OK);
    ASSERT_EQ(message.AddString("server", "LINK"), B_OK);
    ASSERT_EQ(message.AddString("server", ""), B_OK);

    std::vector<char> flat(static_cast<size_t>(message.FlattenedSize()));
    ASSERT_EQ(message.Flatten(flat.data(), static_cast<ssize_t>(flat.size())), B_OK);
    BMessage back;
    ASSERT_EQ(back.Unflatten(flat.data(), static_cast<ssize_t>(flat.size())), B_OK);
    EXPECT_EQ(back.what, 'pcmd');
    const void* data;
    ssize_t size;
    ASSERT_EQ(back.FindData("command", B_RAW_TYPE, &data, &size), B_OK);
    ASSERT_EQ(size, static_cast<ssize_t>(sizeof(packet)));
    EXPECT_EQ(std::memcmp(data, packet, sizeof(packet)), 0);
    const char* server;
    ASSERT_EQ(back.FindString("server", 1, &server), B_OK);
    EXPECT_STREQ(server, "");
    EXPECT_FALSE(back.WasDelivered());

    // Every cut-off prefix is refused without touching the message.
    for (size_t cut = 0; cut < flat.size(); cut++) {
        BMessage partial('keep');
        EXPECT_EQ(partial.Unflatten(flat.data(), static_cast<ssize_t>(cut)), B_BAD_DATA) << cut;
        EXPECT_EQ(partial.what, 'keep');
        EXPECT_TRUE(partial.IsEmpty());
    }
    EXPECT_EQ(message.Flatten(flat.data(), static_cast<ssize_t>(flat.size()) - 1), B_BAD_VALUE);
}

TEST(MessageFields, MessengerFieldRoundTrips) {
    BMessage message;
    BMessenger none;
    ASSERT_EQ(message.AddMessenger("messenger", none), B_OK);
    BMessenger found(nullptr, nullptr);
    ASSERT_EQ(message.FindMessenger("messenger", &found), B_OK);
    EXPECT_TRUE(found == none);
    type_code type;
    ASSERT_EQ(message.GetInfo("messenger", &type), B_OK);
    EXPECT_EQ(type, B_MESSENGER_TYPE);
}
