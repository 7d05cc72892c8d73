#include <gtest/gtest.h>

#include "platform/ByteOrder.h"
#include "platform/HostProtocol.h"

namespace {

TEST(ByteOrder, WritesLittleEndian) {
    uint8 bytes[4] = {0, 0, 0, 0};
    WordToBytes(0xBEEF, bytes);
    EXPECT_EQ(bytes[0], 0xEF);
    EXPECT_EQ(bytes[1], 0xBE);
    LongToBytes(0x12345678, bytes);
    EXPECT_EQ(bytes[0], 0x78);
    EXPECT_EQ(bytes[1], 0x56);
    EXPECT_EQ(bytes[2], 0x34);
    EXPECT_EQ(bytes[3], 0x12);
}

TEST(ByteOrder, ReadsBackWhatWasWritten) {
    uint8 bytes[4];
    LongToBytes(0xFEDCBA98, bytes);
    EXPECT_EQ(BytesToUlong(bytes), 0xFEDCBA98u);
    WordToBytes(0x8001, bytes);
    EXPECT_EQ(BytesToUword(bytes), 0x8001);
}

TEST(ByteOrder, WordIsSignExtendedUwordIsNot) {
    const uint8 minus_one[2] = {0xFF, 0xFF};
    const uint8 minus_32[2] = {0xE0, 0xFF};
    const uint8 lowest[2] = {0x00, 0x80};
    const uint8 highest[2] = {0xFF, 0x7F};
    EXPECT_EQ(BytesToWord(minus_one), -1);
    EXPECT_EQ(static_cast<int32>(BytesToWord(minus_32)), -32);
    EXPECT_EQ(BytesToWord(lowest), -32768);
    EXPECT_EQ(BytesToWord(highest), 32767);
    EXPECT_EQ(BytesToUword(minus_one), 0xFFFF);
    EXPECT_EQ(static_cast<int32>(BytesToUword(lowest)), 32768);
    const uint8 high_bit[4] = {0x00, 0x00, 0x00, 0x80};
    EXPECT_EQ(BytesToUlong(high_bit), 0x80000000u);
}

TEST(HostProtocol, CodesCarryTheirChannel) {
    EXPECT_EQ(host_channel_packet(5), 0x20005);
    EXPECT_EQ(host_disconnect_request(0x12), 0x70012);
    EXPECT_TRUE(host_is_connect_reply(0x60007));
    EXPECT_FALSE(host_is_connect_reply(0x70007));
    EXPECT_EQ(host_code_channel(0x60007), 7);
}

static_assert(HOST_LINK_DOWN == 0x70000);
static_assert(HOST_CONNECT_REQUEST == 0x80000);

}  // namespace
