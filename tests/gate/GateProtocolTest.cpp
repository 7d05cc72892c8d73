// The door's language as a pure function: packets as text, requests decoded, replies encoded.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "host/GateProtocol.h"
#include "host/PacketText.h"

namespace {

using nlohmann::json;
using namespace vantrel;
using namespace vantrel::gate;

TEST(PacketText, HexBothWays) {
    PacketBytes bytes = {0x00, 0x7F, 0x80, 0xFF, 0x2A};
    EXPECT_EQ(ToHex(bytes), "007f80ff2a");
    EXPECT_EQ(FromHex("007F80ff2a"), bytes);
    EXPECT_EQ(FromHex("00 7f\t80 ff 2a"), bytes);
    EXPECT_EQ(FromHex(""), PacketBytes{});
    EXPECT_FALSE(FromHex("0"));
    EXPECT_FALSE(FromHex("0 0"));  // a blank inside a byte
    EXPECT_FALSE(FromHex("0x12"));
    EXPECT_FALSE(FromHex("zz"));
}

TEST(PacketText, Base64BothWays) {
    for (size_t size = 0; size < 8; ++size) {
        PacketBytes bytes;
        for (size_t i = 0; i < size; ++i) bytes.push_back(static_cast<uint8_t>(0xF0 + i * 7));
        std::string text = ToBase64(bytes);
        EXPECT_EQ(text.size() % 4, 0u);
        EXPECT_EQ(FromBase64(text), bytes) << text;
    }
    EXPECT_EQ(ToBase64({'h', 'e', 'l', 'l', 'o'}), "aGVsbG8=");
    EXPECT_FALSE(FromBase64("aGVsbG8"));   // padding missing
    EXPECT_FALSE(FromBase64("aGVsbG9="));  // leftover bits not zero
    EXPECT_FALSE(FromBase64("aG=sbG8="));  // padding inside
    EXPECT_FALSE(FromBase64("aGVs bG8="));
}

TEST(PacketText, HexDumpShowsBytesAndText) {
    std::string dump = HexDump({'H', 'i', 0x00, 0x2A});
    EXPECT_EQ(dump, "  0000  48 69 00 2a" + std::string(12 * 3, ' ') + "  |Hi.*|\n");
    EXPECT_EQ(HexDump({}), "");
    std::string two = HexDump(PacketBytes(17, 'a'));
    EXPECT_EQ(std::count(two.begin(), two.end(), '\n'), 2);
    EXPECT_NE(two.find("  0010  61 "), std::string::npos) << two;
}

TEST(DecodeRequest, EachOperation) {
    Decoded d = DecodeRequest(R"({"id":7,"op":"connect","server":"SYS$RFSV"})");
    ASSERT_TRUE(d.ok) << d.errorText;
    EXPECT_EQ(d.request.op, Op::Connect);
    EXPECT_EQ(d.request.server, "SYS$RFSV");
    EXPECT_EQ(d.request.id, "7");

    d = DecodeRequest(R"({"id":"a\"b","op":"send","channel":65535,"base64":"AQI="})");
    ASSERT_TRUE(d.ok) << d.errorText;
    EXPECT_EQ(d.request.id, R"("a\"b")");
    EXPECT_EQ(d.request.channel, 65535);
    EXPECT_EQ(d.request.encoding, Encoding::Base64);
    EXPECT_EQ(d.request.packet, (PacketBytes{1, 2}));

    d = DecodeRequest(R"({"op":"disconnect","channel":1})");
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.request.id, "null");
    EXPECT_EQ(d.request.op, Op::Disconnect);
    EXPECT_TRUE(DecodeRequest(R"({"op":"channels"})").ok);
    EXPECT_TRUE(DecodeRequest(R"({"op":"link","extra":[1,2]})").ok);
    // Exactly 13 characters and exactly the packet limit still pass.
    EXPECT_TRUE(DecodeRequest(R"({"op":"connect","server":"ABCDEFGHIJKLM"})").ok);
    std::string full =
        R"({"op":"send","channel":1,"hex":")" + std::string(2 * kMaxPacketBytes, 'f') + "\"}";
    EXPECT_TRUE(DecodeRequest(full).ok);
}

TEST(DecodeRequest, RefusalsCarryACodeAndTheIdWhenThereIsOne) {
    struct Case {
        std::string line;
        std::string code;
        std::string id;
    };
    std::string tooBig = R"({"id":1,"op":"send","channel":1,"hex":")" +
                         std::string(2 * kMaxPacketBytes + 2, 'f') + "\"}";
    std::vector<Case> cases = {
        {"", error::kMalformed, "null"},
        {"{", error::kMalformed, "null"},
        {"\"text\"", error::kMalformed, "null"},
        {R"({"id":1.5,"op":"link"})", error::kBadRequest, "null"},
        {R"({"id":")" + std::string(65, 'x') + R"(","op":"link"})", error::kBadRequest, "null"},
        {R"({"id":2,"op":7})", error::kBadRequest, "2"},
        {R"({"id":3,"op":"Connect","server":"X"})", error::kUnknownOp, "3"},
        {R"({"id":4,"op":"connect"})", error::kBadRequest, "4"},
        {R"({"id":5,"op":"connect","server":""})", error::kBadName, "5"},
        {R"({"id":6,"op":"connect","server":"ABCDEFGHIJKLMN"})", error::kNameTooLong, "6"},
        {R"({"id":7,"op":"connect","server":"SYS$RFSV.*"})", error::kBadName, "7"},
        {R"({"id":8,"op":"connect","server":"A B"})", error::kBadName, "8"},
        {R"({"id":9,"op":"send","channel":0,"hex":"00"})", error::kBadRequest, "9"},
        {R"({"id":10,"op":"send","channel":-1,"hex":"00"})", error::kBadRequest, "10"},
        {R"({"id":11,"op":"send","channel":"3","hex":"00"})", error::kBadRequest, "11"},
        {R"({"id":12,"op":"send","channel":3})", error::kBadRequest, "12"},
        {R"({"id":13,"op":"send","channel":3,"hex":"abc"})", error::kBadRequest, "13"},
        {R"({"id":14,"op":"send","channel":3,"base64":"@@@@"})", error::kBadRequest, "14"},
        {R"({"id":15,"op":"send","channel":3.0,"hex":"00"})", error::kBadRequest, "15"},
        {R"({"id":16,"op":"disconnect","channel":18446744073709551615})", error::kBadRequest, "16"},
        {tooBig, error::kTooLarge, "1"},
        {std::string(kMaxLineBytes + 1, ' '), error::kTooLarge, "null"},
    };
    for (const Case& c : cases) {
        Decoded d = DecodeRequest(c.line);
        EXPECT_FALSE(d.ok) << c.line.substr(0, 80);
        EXPECT_EQ(d.errorCode, c.code) << c.line.substr(0, 80);
        EXPECT_EQ(d.request.id, c.id) << c.line.substr(0, 80);
        EXPECT_FALSE(d.errorText.empty());
    }
}

TEST(Replies, AreSingleJsonLinesThatEchoTheId) {
    std::vector<std::string> lines = {
        ErrorReply("\"x\"", error::kBusy, "wait"),
        ConnectReply("1", 3, "SYS$RFSV"),
        SendReply("2", {0x2A, 0x00}, Encoding::Hex),
        SendReply("2", {0x2A, 0x00}, Encoding::Base64),
        DisconnectReply("3", 3),
        ChannelsReply("4", {{3, "SYS$RFSV"}, {9, "ECHO"}}),
        LinkReply("5", false),
        LinkEvent(false, {3, 9}),
        LinkEvent(true, {}),
    };
    for (const std::string& line : lines) {
        ASSERT_FALSE(line.empty());
        EXPECT_EQ(line.back(), '\n');
        EXPECT_EQ(line.find('\n'), line.size() - 1);
        EXPECT_TRUE(json::parse(line, nullptr, false).is_object()) << line;
    }
    EXPECT_EQ(json::parse(lines[0]),
              json({{"id", "x"}, {"ok", false}, {"error", "busy"}, {"message", "wait"}}));
    EXPECT_EQ(json::parse(lines[2]), json({{"id", 2}, {"ok", true}, {"size", 2}, {"hex", "2a00"}}));
    EXPECT_EQ(json::parse(lines[3])["base64"], "KgA=");
    EXPECT_EQ(json::parse(lines[5])["channels"][1], json({{"channel", 9}, {"server", "ECHO"}}));
    EXPECT_EQ(json::parse(lines[7]),
              json({{"event", "link"}, {"state", "down"}, {"closed", {3, 9}}}));
    EXPECT_FALSE(json::parse(lines[8]).contains("closed"));
    // Text that is not UTF-8 is replaced, never a failure.
    EXPECT_TRUE(json::parse(ErrorReply("null", "x", "\xff\xfe"), nullptr, false).is_object());
}

}  // namespace
