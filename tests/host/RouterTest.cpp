// The host's request port driven with raw port messages: connects, packets, disconnects,
// several connections, LINK registration, link down and up again.
#include <atomic>
#include <chrono>
#include <random>
#include <set>
#include <thread>

#include "HostTestSupport.h"

using namespace hosttest;
using handheld::TraceEvent;
using vantrel::RawChannel;

namespace {

TEST_F(HostTest, ConnectSendPacketAndDisconnect) {
    StartHost();
    folder.Write("A.TXT", "hello");
    RawChannel rfsv;
    ASSERT_EQ(rfsv.Connect("SYS$RFSV", kAnswer), B_OK);
    EXPECT_GT(rfsv.Channel(), 0);
    EXPECT_EQ(rfsv.LastReplyCode(), HOST_CONNECT_REPLY + rfsv.Channel());
    EXPECT_EQ(host->OpenChannels(), 1u);

    Bytes reply;
    ASSERT_EQ(rfsv.Transact(Finfo("M:\\A.TXT"), reply, kAnswer), B_OK);
    ASSERT_EQ(reply.size(), 22u);
    EXPECT_EQ(Status(reply), 0);
    EXPECT_EQ(BytesToUlong(&reply[10]), 5u);
    EXPECT_EQ(host->Trace().CountRequests(rfsv.Channel(), FINFO), 1u);

    uint16 channel = rfsv.Channel();
    ASSERT_EQ(rfsv.Disconnect(), B_OK);
    // A packet for the closed channel is dropped without an answer.
    Bytes packet = Finfo("M:\\A.TXT");
    ASSERT_EQ(
        write_port(host->RequestPort(), host_channel_packet(channel), packet.data(), packet.size()),
        B_OK);
    EXPECT_EQ(rfsv.Receive(reply, kNoAnswer), B_TIMED_OUT);
    EXPECT_EQ(host->Trace().CountEvents(TraceEvent::Unknown, channel), 1u);
    EXPECT_EQ(host->OpenChannels(), 0u);
}

TEST_F(HostTest, ConnectWithPaddedPatternsAsTheClientsSendThem) {
    StartHost();
    port_id reply = create_port(HOST_REPLY_PORT_CAPACITY, "padded");
    // 16 bytes: the port id, "SYS$RFSV.*" and two NULs.
    uint8 message[16] = {};
    LongToBytes(static_cast<uint32>(reply), message);
    memcpy(message + 4, "SYS$RFSV.*", 10);
    ASSERT_EQ(write_port(host->RequestPort(), HOST_CONNECT_REQUEST, message, 16), B_OK);
    int32 code = 0;
    uint8 buffer[128];
    ASSERT_GE(read_port_etc(reply, &code, buffer, sizeof(buffer), B_TIMEOUT, kAnswer), 0);
    EXPECT_TRUE(host_is_connect_reply(code));
    EXPECT_NE(host_code_channel(code), 0);
    // 12 bytes: "LINK.*", a NUL and one more.
    uint8 link[12] = {};
    LongToBytes(static_cast<uint32>(reply), link);
    memcpy(link + 4, "LINK.*", 6);
    ASSERT_EQ(write_port(host->RequestPort(), HOST_CONNECT_REQUEST, link, 12), B_OK);
    ASSERT_GE(read_port_etc(reply, &code, buffer, sizeof(buffer), B_TIMEOUT, kAnswer), 0);
    EXPECT_TRUE(host_is_connect_reply(code));
    delete_port(reply);
}

TEST_F(HostTest, UnknownServerGetsNoAnswer) {
    StartHost();
    RawChannel nobody;
    EXPECT_EQ(nobody.Connect("NOSUCH", kNoAnswer), B_TIMED_OUT);
    EXPECT_EQ(nobody.Channel(), 0);
    EXPECT_EQ(host->Trace().CountEvents(TraceEvent::NoServer), 1u);
    EXPECT_EQ(host->OpenChannels(), 0u);
}

TEST_F(HostTest, TwoConnectionsEachGetTheirOwnReplies) {
    StartHost();
    folder.Write("SHORT.TXT", "1");
    folder.Write("LONGER.TXT", "12345678");
    RawChannel first, second;
    ASSERT_EQ(first.Connect("SYS$RFSV", kAnswer), B_OK);
    ASSERT_EQ(second.Connect("SYS$RFSV", kAnswer), B_OK);
    EXPECT_NE(first.Channel(), second.Channel());
    EXPECT_NE(first.ReplyPort(), second.ReplyPort());
    // Both requests out before either reply is read.
    ASSERT_EQ(second.Send(Finfo("M:\\LONGER.TXT")), B_OK);
    ASSERT_EQ(first.Send(Finfo("M:\\SHORT.TXT")), B_OK);
    Bytes a, b;
    ASSERT_EQ(first.Receive(a, kAnswer), B_OK);
    ASSERT_EQ(second.Receive(b, kAnswer), B_OK);
    EXPECT_EQ(BytesToUlong(&a.at(10)), 1u);
    EXPECT_EQ(BytesToUlong(&b.at(10)), 8u);
    EXPECT_EQ(port_count(first.ReplyPort()), 0);
    EXPECT_EQ(port_count(second.ReplyPort()), 0);
    // Each file handle lives on its own channel's session: closing one channel closes its own.
    ASSERT_EQ(first.Transact(Payload().Word(0x0200).Str("M:\\SHORT.TXT").Packet(FOPEN), a, kAnswer),
              B_OK);
    ASSERT_EQ(Status(a), 0);
    ASSERT_EQ(first.Disconnect(), B_OK);
    ASSERT_EQ(second.Transact(Payload().Str("M:\\SHORT.TXT").Packet(DELETE), b, kAnswer), B_OK);
    EXPECT_EQ(Status(b), 0);
}

TEST_F(HostTest, ChannelNumbersAreNeverZeroAndNotReusedWhileOpen) {
    StartHost();
    std::vector<std::unique_ptr<RawChannel>> channels;
    for (int i = 0; i < 5; ++i) {
        channels.push_back(std::make_unique<RawChannel>());
        ASSERT_EQ(channels.back()->Connect("SYS$RFSV", kAnswer), B_OK);
    }
    channels[2]->Disconnect();
    auto extra = std::make_unique<RawChannel>();
    ASSERT_EQ(extra->Connect("LINK", kAnswer), B_OK);
    std::set<uint16> open;
    for (size_t i = 0; i < channels.size(); ++i)
        if (i != 2) open.insert(channels[i]->Channel());
    EXPECT_EQ(open.count(extra->Channel()), 0u);
    EXPECT_EQ(open.count(0), 0u);
    EXPECT_NE(extra->Channel(), 0);
    EXPECT_EQ(open.size(), 4u);
}

TEST_F(HostTest, RegistrationAtTheLinkServerLetsTheTestServerAcceptConnects) {
    StartHost();
    RawChannel echo;
    EXPECT_EQ(echo.Connect("ECHO", kNoAnswer), B_TIMED_OUT);

    RawChannel link;
    ASSERT_EQ(link.Connect("LINK", kAnswer), B_OK);
    Bytes reply;
    ASSERT_EQ(link.Transact({0x00, 0x2B, 0x1A, 'E', 'C', 'H', 'O', 0}, reply, kAnswer), B_OK);
    ASSERT_EQ(reply.size(), 39u);
    EXPECT_EQ(BytesToUword(&reply[1]), 0x1A2B);
    EXPECT_EQ(BytesToWord(&reply[3]), 0);

    ASSERT_EQ(echo.Connect("ECHO", kAnswer), B_OK);
    ASSERT_EQ(echo.Transact({9, 8, 7}, reply, kAnswer), B_OK);
    EXPECT_EQ(reply, (Bytes{9, 8, 7}));
}

TEST_F(HostTest, UnknownCodesAndBrokenMessagesAreDroppedAndTraced) {
    StartHost();
    port_id port = host->RequestPort();
    uint8 junk[3] = {1, 2, 3};
    EXPECT_EQ(write_port(port, 0x123456, junk, 3), B_OK);
    EXPECT_EQ(write_port(port, HOST_CHANNEL_PACKET, junk, 3), B_OK);  // channel 0
    EXPECT_EQ(write_port(port, HOST_DISCONNECT_REQUEST + 77, nullptr, 0), B_OK);
    EXPECT_EQ(write_port(port, HOST_CONNECT_REQUEST, junk, 3), B_OK);  // too short
    uint8 noPort[12] = {0xFF, 0xFF, 0xFF, 0x7F, 'L', 'I', 'N', 'K', '.', '*', 0, 0};
    EXPECT_EQ(write_port(port, HOST_CONNECT_REQUEST, noPort, 12), B_OK);  // no such reply port
    RawChannel after;
    ASSERT_EQ(after.Connect("SYS$RFSV", kAnswer), B_OK);
    EXPECT_EQ(host->Trace().CountEvents(TraceEvent::Unknown), 3u);
    EXPECT_EQ(host->Trace().CountEvents(TraceEvent::Disconnect, 77), 1u);
    // The connect whose reply port did not exist left no channel behind.
    EXPECT_EQ(host->OpenChannels(), 1u);
}

TEST_F(HostTest, RandomMessagesFromSeveralThreadsNeverStopTheRouter) {
    StartHost();
    RawChannel rfsv;
    ASSERT_EQ(rfsv.Connect("SYS$RFSV", kAnswer), B_OK);
    port_id port = host->RequestPort();
    // Garbage sent on the open channel gets replies of its own; the reader takes them all,
    // up to the answer of the real request sent after the garbage.
    std::atomic<bool> answered{false};
    std::thread reader([&] {
        Bytes reply;
        while (rfsv.Receive(reply, kAnswer) == B_OK) {
            if (reply.size() == 22 && Status(reply) == 0 && BytesToUlong(&reply[10]) == 7) {
                answered = true;
                return;
            }
        }
    });
    auto hammer = [&](uint32 seed) {
        std::mt19937 random(seed);
        const int32 kinds[] = {HOST_CONNECT_REQUEST,
                               HOST_CHANNEL_PACKET,
                               HOST_DISCONNECT_REQUEST,
                               0x10000,
                               0x7F0000,
                               0x1000000};
        for (int i = 0; i < 2000; ++i) {
            int32 kind = kinds[random() % 6];
            // Packets go to the open channel and its neighbours; never disconnect it.
            uint16 channel = static_cast<uint16>(rfsv.Channel() + random() % 3);
            if (kind == HOST_DISCONNECT_REQUEST && channel == rfsv.Channel()) continue;
            Bytes bytes(random() % 80);
            for (uint8& b : bytes) b = static_cast<uint8>(random());
            int32 code = kind == HOST_CONNECT_REQUEST ? kind : kind + channel;
            write_port(port, code, bytes.data(), bytes.size());
        }
    };
    std::thread a(hammer, 1), b(hammer, 2);
    a.join();
    b.join();
    folder.Write("SEVEN.TXT", "1234567");
    ASSERT_EQ(rfsv.Send(Finfo("M:\\SEVEN.TXT")), B_OK);
    reader.join();
    EXPECT_TRUE(answered);
    EXPECT_TRUE(host->IsLinkUp());
}

TEST_F(HostTest, LinkDownDeletesThePortsAndTheLinkComesBack) {
    StartHost();
    EXPECT_EQ(host->LinkUp(), B_BUSY);
    RawChannel rfsv;
    ASSERT_EQ(rfsv.Connect("SYS$RFSV", kAnswer), B_OK);
    port_id replyPort = rfsv.ReplyPort();
    std::atomic<ssize_t> waited{0};
    std::thread reader([&] {
        int32 code;
        uint8 buffer[16];
        waited = read_port(replyPort, &code, buffer, sizeof(buffer));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(host->LinkDown(), B_OK);
    reader.join();
    EXPECT_EQ(waited.load(), B_BAD_PORT_ID);
    EXPECT_LT(find_port(HOST_REQUEST_PORT_NAME), 0);
    EXPECT_FALSE(host->IsLinkUp());
    EXPECT_EQ(rfsv.Send(Finfo("M:\\X")), B_BAD_PORT_ID);
    EXPECT_EQ(host->LinkDown(), B_OK);

    ASSERT_EQ(host->LinkUp(), B_OK);
    RawChannel again;
    ASSERT_EQ(again.Connect("SYS$RFSV", kAnswer), B_OK);
    Bytes reply;
    ASSERT_EQ(again.Transact(Finfo("M:\\NONE"), reply, kAnswer), B_OK);
    EXPECT_EQ(Status(reply), RFSV_NOT_FOUND);
}

TEST_F(HostTest, OnlyOneRequestPortPerProcess) {
    StartHost();
    vantrel::HostOptions options;
    vantrel::HostLink second(options);
    ASSERT_EQ(second.Start(), B_OK);
    EXPECT_EQ(second.LinkUp(), B_NAME_IN_USE);
}

TEST_F(HostTest, FileThroughTheRouterWriteSeekRead) {
    StartHost();
    RawChannel rfsv;
    ASSERT_EQ(rfsv.Connect("SYS$RFSV", kAnswer), B_OK);
    Bytes r;
    ASSERT_EQ(rfsv.Transact(Payload().Word(0x0302).Str("M:\\NEW.TXT").Packet(FOPEN), r, kAnswer),
              B_OK);
    ASSERT_EQ(Status(r), 0);
    uint16 handle = BytesToUword(&r.at(6));
    ASSERT_EQ(
        rfsv.Transact(Payload().Word(handle).Raw({'a', 'b', 'c', 'd'}).Packet(FWRITE), r, kAnswer),
        B_OK);
    EXPECT_EQ(Status(r), 0);
    ASSERT_EQ(rfsv.Transact(Payload().Word(handle).Long(1).Word(1).Packet(FSEEK), r, kAnswer),
              B_OK);
    EXPECT_EQ(BytesToUlong(&r.at(6)), 1u);
    ASSERT_EQ(rfsv.Transact(Payload().Word(handle).Word(511).Packet(FREAD), r, kAnswer), B_OK);
    EXPECT_EQ(std::string(r.begin() + 6, r.end()), "bcd");
    ASSERT_EQ(rfsv.Transact(Payload().Word(handle).Packet(FCLOSE), r, kAnswer), B_OK);
    EXPECT_EQ(Status(r), 0);
    EXPECT_EQ(folder.Read("NEW.TXT"), "abcd");
}

TEST_F(HostTest, LinkModelDelaysEachPacket) {
    vantrel::HostOptions options;
    options.speed.latency = 60000;
    StartHost(options);
    RawChannel rfsv;
    ASSERT_EQ(rfsv.Connect("SYS$RFSV", kAnswer), B_OK);
    Bytes reply;
    bigtime_t start = system_time();
    ASSERT_EQ(rfsv.Transact(Finfo("M:\\X"), reply, kAnswer), B_OK);
    // The request and the reply each pay the latency.
    EXPECT_GE(system_time() - start, 120000);
}

TEST_F(HostTest, Series5AnswersTheDriveRequests) {
    vantrel::HostOptions options;
    options.family = vantrel::Family::Series5;
    options.drives.push_back(devtest::Drive('C', "Internal", folder.Path()));
    StartHost(options);
    EXPECT_EQ(host->FamilyVersion(), 5);
    RawChannel rfsv;
    ASSERT_EQ(rfsv.Connect("SYS$RFSV", kAnswer), B_OK);
    Bytes reply;
    ASSERT_EQ(rfsv.Transact({0x13, 0, 1, 0}, reply, kAnswer), B_OK);
    ASSERT_GE(reply.size(), 34u);
    EXPECT_NE(reply[8 + 2], 0);
    ASSERT_EQ(rfsv.Transact({0x14, 0, 2, 0, 2, 0, 0, 0}, reply, kAnswer), B_OK);
    ASSERT_GE(reply.size(), 48u);
    EXPECT_EQ(std::string(reply.begin() + 48, reply.end()), "Internal");
}

}  // namespace
