// The gateway looper: 'conn', 'pcmd' and 'disc' from a client, against a scripted device.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "GatewayClient.h"
#include "GatewayTestSupport.h"
#include "GatewayWaits.h"
#include "LinkLooper.h"
#include "LinkState.h"
#include "kits/Message.h"
#include "kits/Messenger.h"
#include "platform/HostProtocol.h"

namespace {

using gate_client::ConnectionOf;
using gate_client::DataOf;

class LinkLooperTest : public ::testing::Test {
protected:
    void SetUp() override {
        TearDownLinkState();
        SetGatewayWaits(ShortConnectWaits());
        device = std::make_unique<ServersDevice>();
        looper = new LinkLooper();
        ASSERT_GE(looper->Run(), 0);
        gateway = BMessenger(looper);
        trace = std::make_unique<TraceCapture>();
    }
    void TearDown() override {
        looper->Quit();
        trace.reset();
        device.reset();
        TearDownLinkState();
        SetGatewayWaits(GatewayWaits{});
    }

    // The requests as a client sends them, and waits for their replies.
    BMessage Ask(BMessage request) { return gate_client::Ask(gateway, request); }
    BMessage Command(const std::vector<uint8>& packet, port_id port, int16 chan) {
        return gate_client::Command(gateway, packet, port, chan);
    }
    BMessage Connect(const char* server) { return gate_client::Connect(gateway, server); }

    // A server that answers at once, connected to; its connection.
    void ConnectAtOnce(const char* server, int32* port, int16* chan) {
        device->SetServer(server, ServersDevice::Answer::kAtOnce);
        ASSERT_NO_FATAL_FAILURE(ConnectionOf(Connect(server), port, chan));
    }

    std::unique_ptr<ServersDevice> device;
    LinkLooper* looper = nullptr;
    BMessenger gateway;
    std::unique_ptr<TraceCapture> trace;
};

}  // namespace

TEST_F(LinkLooperTest, ConnectToAServerThatAnswersAtOnce) {
    device->SetServer("SYS$RFSV", ServersDevice::Answer::kAtOnce);
    BMessage reply = Connect("SYS$RFSV");
    ASSERT_EQ(reply.what, kConnectRequest);
    const char* server;
    int32 port;
    int16 chan;
    ASSERT_EQ(reply.FindString("server", &server), B_OK);
    EXPECT_STREQ(server, "SYS$RFSV");
    ASSERT_EQ(reply.FindInt32("port_id", &port), B_OK);
    ASSERT_EQ(reply.FindInt16("chan_id", &chan), B_OK);
    EXPECT_EQ(static_cast<uint16>(chan), device->ChannelOf("SYS$RFSV"));
    ASSERT_EQ(device->Requests().size(), 1u);  // no register request
    EXPECT_EQ(RequestPortField(device->Requests()[0]), port);

    EXPECT_EQ(trace->Lines(), LooperConnectedAtOnce("SYS$RFSV", port, chan));
}

TEST_F(LinkLooperTest, ConnectToAServerThatAnswersOnlyAfterRegistration) {
    device->SetServer("LATE", ServersDevice::Answer::kAfterRegister);
    BMessage reply = Connect("LATE");
    ASSERT_EQ(reply.what, kConnectRequest);
    EXPECT_TRUE(reply.HasData("port_id", B_INT32_TYPE));
    EXPECT_TRUE(reply.HasData("chan_id", B_INT16_TYPE));
    std::vector<ScriptedDevice::Request> wire = device->Requests();
    ASSERT_EQ(wire.size(), 4u);
    EXPECT_EQ(RequestPattern(wire[0]), "LATE.*");
    EXPECT_EQ(RequestPattern(wire[1]), "LINK.*");
    EXPECT_EQ(wire[2].code, host_channel_packet(device->ChannelOf("LINK")));
    EXPECT_EQ(RequestPattern(wire[3]), "LATE.*");
}

TEST_F(LinkLooperTest, ServerThatNeverAnswersGetsErorAfterTheTimeOuts) {
    // The LINK server runs but never answers the register request: at the built-in waits, 3 s
    // for the first connect request, 10 s for the register reply, 3 s for the second one.
    SetGatewayWaits(GatewayWaits{});
    device->SetRegisterUnanswered(true);
    bigtime_t start = system_time();
    BMessage reply = Connect("NEVER");
    bigtime_t took = system_time() - start;
    EXPECT_EQ(reply.what, kErrorReply);
    EXPECT_FALSE(reply.HasData("port_id", B_ANY_TYPE));
    EXPECT_FALSE(reply.HasData("chan_id", B_ANY_TYPE));
    const char* server;
    ASSERT_EQ(reply.FindString("server", &server), B_OK);
    EXPECT_STREQ(server, "NEVER");
    EXPECT_GE(took, 16000000);

    std::vector<ScriptedDevice::Request> wire = device->Requests();
    ASSERT_EQ(wire.size(), 4u);
    port_id linkPort = RequestPortField(wire[1]);
    uint16 linkChan = device->ChannelOf("LINK");
    std::vector<std::string> expected = {"LinkLooper got msg nnoc", "got 'conn'",
                                         "ConnectServer [NEVER]"};
    Append(expected, ConnReqUnanswered("NEVER", RequestPortField(wire[0])));
    Append(expected, RegisterRequestSent("NEVER", linkPort, linkChan));
    Append(expected, {Format("port_buffer_size result %d", static_cast<int>(B_TIMED_OUT)),
                      Format("Bad response %d from Register cmd!", static_cast<int>(B_TIMED_OUT))});
    Append(expected, ConnReqUnanswered("NEVER", RequestPortField(wire[3])));
    expected.push_back("Failed to connect to server NEVER");
    EXPECT_EQ(trace->Lines(), expected);
}

TEST_F(LinkLooperTest, CommandWithATwelveByteReply) {
    const std::vector<uint8> answer = {0x2A, 0, 0xF6, 0xFF, 1, 2, 3, 4, 5, 6, 7, 8};
    device->SetCommandReply("SYS$RFSV", answer);
    int32 port;
    int16 chan;
    ASSERT_NO_FATAL_FAILURE(ConnectAtOnce("SYS$RFSV", &port, &chan));
    trace->Clear();

    const std::vector<uint8> packet = {0x12, 0x04, 0x00, 'M', ':', '\\', 0};
    std::vector<uint8> data;
    ASSERT_NO_FATAL_FAILURE(DataOf(Command(packet, port, chan), &data));
    EXPECT_EQ(data, answer);
    EXPECT_EQ(device->Requests().back().data, packet);
    EXPECT_EQ(device->Requests().back().code, host_channel_packet(static_cast<uint16>(chan)));
    EXPECT_EQ(trace->Lines(), LooperCommandAnswered(chan, port, 7, 12));
}

TEST_F(LinkLooperTest, CommandWithAnEmptyReply) {
    device->SetCommandReply("SYS$RFSV", {});
    int32 port;
    int16 chan;
    ASSERT_NO_FATAL_FAILURE(ConnectAtOnce("SYS$RFSV", &port, &chan));
    std::vector<uint8> data = {0xEE};
    ASSERT_NO_FATAL_FAILURE(DataOf(Command({0x01}, port, chan), &data));
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(trace->Lines().back(), "DoCmd returned 0 bytes");
}

TEST_F(LinkLooperTest, CommandMissingAFieldIsAnErrorWithNothingSent) {
    const std::vector<uint8> packet = {0x01, 0x02};
    BMessage noChannel(kCommandRequest);
    noChannel.AddData("command", B_RAW_TYPE, packet.data(), 2);
    noChannel.AddInt32("port_id", 5);
    BMessage noPort(kCommandRequest);
    noPort.AddData("command", B_RAW_TYPE, packet.data(), 2);
    noPort.AddInt16("chan_id", 5);
    BMessage noCommand(kCommandRequest);
    noCommand.AddInt32("port_id", 5);
    noCommand.AddInt16("chan_id", 5);
    // A field of the wrong type counts as missing.
    BMessage wrongType(kCommandRequest);
    wrongType.AddData("command", B_RAW_TYPE, packet.data(), 2);
    wrongType.AddInt32("port_id", 5);
    wrongType.AddInt32("chan_id", 5);
    for (BMessage& request : std::vector<BMessage>{noChannel, noPort, noCommand, wrongType}) {
        trace->Clear();
        BMessage reply = Ask(request);
        EXPECT_EQ(reply.what, kErrorReply);
        EXPECT_TRUE(reply.IsEmpty());
        EXPECT_EQ(trace->Lines(), (std::vector<std::string>{"LinkLooper got msg dmcp", "got 'pcmd'",
                                                            "DoCmd returned -2147483643 bytes"}));
    }
    EXPECT_TRUE(device->Requests().empty());
}

TEST_F(LinkLooperTest, CommandOnAClosedOrUnknownChannelTimesOutAsError) {
    GatewayWaits waits = ShortConnectWaits();
    waits.reply = 500000;  // nothing will answer
    SetGatewayWaits(waits);
    device->SetServer("SYS$RFSV", ServersDevice::Answer::kAtOnce);
    ASSERT_EQ(Connect("SYS$RFSV").what, kConnectRequest);  // the request port is known now
    port_id port = create_port(50, "never answered");
    BMessage reply = Command({0x01}, port, 0x33);
    EXPECT_EQ(reply.what, kErrorReply);
    EXPECT_EQ(trace->Lines().back(),
              Format("DoCmd returned %d bytes", static_cast<int>(B_TIMED_OUT)));
    delete_port(port);
}

TEST_F(LinkLooperTest, DisconnectSendsTheCloseRequestAndNoReply) {
    device->SetServer("SYS$RFSV", ServersDevice::Answer::kAtOnce);
    ASSERT_EQ(Connect("SYS$RFSV").what, kConnectRequest);  // the request port is known now
    trace->Clear();
    BMessage request(kDisconnectRequest);
    request.AddInt32("port_id", 77);
    request.AddInt16("chan_id", static_cast<int16>(0x8005));
    // Without a reply the waiting client learns so when the looper deletes the request.
    BMessage reply = Ask(request);
    EXPECT_EQ(reply.what, B_NO_REPLY);
    ASSERT_EQ(device->WaitForRequests(2), 2u);
    EXPECT_EQ(device->Requests()[1].code, HOST_DISCONNECT_REQUEST + 0x8005);
    EXPECT_TRUE(device->Requests()[1].data.empty());
    EXPECT_EQ(trace->Lines(), (std::vector<std::string>{"LinkLooper got msg csid", "got 'disc'"}));

    BMessage incomplete(kDisconnectRequest);
    incomplete.AddInt32("port_id", 77);
    EXPECT_EQ(Ask(incomplete).what, B_NO_REPLY);
    EXPECT_EQ(device->Requests().size(), 2u);
}

TEST_F(LinkLooperTest, RequestsWithoutAnswerGetNoReply) {
    BMessage noServer(kConnectRequest);
    EXPECT_EQ(Ask(noServer).what, B_NO_REPLY);
    EXPECT_EQ(trace->Lines(), (std::vector<std::string>{"LinkLooper got msg nnoc", "got 'conn'"}));
    trace->Clear();
    BMessage other('abcd');
    EXPECT_EQ(Ask(other).what, B_NO_REPLY);
    EXPECT_EQ(trace->Lines(), std::vector<std::string>{"LinkLooper got msg dcba"});
    EXPECT_TRUE(device->Requests().empty());
}

TEST_F(LinkLooperTest, HighChannelIdsSurviveTheSignedField) {
    device->SetFixedChannel(0x8001);
    device->SetCommandReply("HIGH", {0x55});
    int32 port;
    int16 chan;
    ASSERT_NO_FATAL_FAILURE(ConnectAtOnce("HIGH", &port, &chan));
    EXPECT_EQ(chan, -32767);
    EXPECT_EQ(Command({0x01}, port, chan).what, kDataReply);
    EXPECT_EQ(device->Requests().back().code, HOST_CHANNEL_PACKET + 0x8001);
}

TEST_F(LinkLooperTest, ServerNameTooLongIsRefusedWithEror) {
    device->SetServer("FOURTEEN_CHARS", ServersDevice::Answer::kAtOnce);
    BMessage reply = Connect("FOURTEEN_CHARS");
    EXPECT_EQ(reply.what, kErrorReply);
    EXPECT_TRUE(device->Requests().empty());
}
