// The channel functions against a scripted device: what goes on the wire, what comes back,
// and the trace lines, compared exactly.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "GatewayTestSupport.h"
#include "GatewayWaits.h"
#include "LinkRegistration.h"
#include "LinkState.h"
#include "ServerChannel.h"
#include "platform/HostProtocol.h"

namespace {

class ServerChannel : public ::testing::Test {
protected:
    void SetUp() override {
        TearDownLinkState();
        SetGatewayWaits(ShortConnectWaits());
        device = std::make_unique<ServersDevice>();
        trace = std::make_unique<TraceCapture>();
    }
    void TearDown() override {
        trace.reset();
        device.reset();
        TearDownLinkState();
        SetGatewayWaits(GatewayWaits{});
    }
    // `server`, answering as `answer` says, connected to; its connection.
    void ConnectTo(const char* server, ServersDevice::Answer answer, ChannelRef* ref) {
        device->SetServer(server, answer);
        *ref = ConnectServer(server);
        ASSERT_NE(ref->chan, 0);
    }

    std::unique_ptr<ServersDevice> device;
    std::unique_ptr<TraceCapture> trace;
};

}  // namespace

TEST_F(ServerChannel, ServerThatAnswersAtOnceNeedsNoRegisterRequest) {
    ChannelRef ref;
    ASSERT_NO_FATAL_FAILURE(ConnectTo("SYS$RFSV", ServersDevice::Answer::kAtOnce, &ref));

    std::vector<ScriptedDevice::Request> wire = device->Requests();
    ASSERT_EQ(wire.size(), 1u);
    EXPECT_EQ(wire[0].code, HOST_CONNECT_REQUEST);
    EXPECT_EQ(wire[0].data.size(), 15u);
    EXPECT_EQ(RequestPattern(wire[0]), "SYS$RFSV.*");
    EXPECT_EQ(RequestPortField(wire[0]), ref.port);
    EXPECT_EQ(ref.chan, device->ChannelOf("SYS$RFSV"));

    std::vector<std::string> expected = {"ConnectServer [SYS$RFSV]"};
    Append(expected, ConnReqAnswered("SYS$RFSV", ref.port, ref.chan));
    EXPECT_EQ(trace->Lines(), expected);
}

TEST_F(ServerChannel, ServerThatAnswersAfterRegistration) {
    ChannelRef ref;
    ASSERT_NO_FATAL_FAILURE(ConnectTo("LATE", ServersDevice::Answer::kAfterRegister, &ref));

    std::vector<ScriptedDevice::Request> wire = device->Requests();
    ASSERT_EQ(wire.size(), 4u);
    EXPECT_EQ(RequestPattern(wire[0]), "LATE.*");
    // The LINK channel is opened first: exactly 12 bytes.
    EXPECT_EQ(wire[1].code, HOST_CONNECT_REQUEST);
    EXPECT_EQ(wire[1].data.size(), 12u);
    EXPECT_EQ(RequestPattern(wire[1]), "LINK.*");
    EXPECT_EQ(wire[1].data[11], 0);
    uint16 linkChan = device->ChannelOf("LINK");
    port_id linkPort = RequestPortField(wire[1]);
    EXPECT_EQ(CurrentLinkHandle().chan, linkChan);
    EXPECT_EQ(CurrentLinkHandle().port, linkPort);
    // The register request on the LINK channel: command 0, check value, name, NUL.
    EXPECT_EQ(wire[2].code, host_channel_packet(linkChan));
    ASSERT_EQ(wire[2].data.size(), 8u);
    EXPECT_EQ(wire[2].data[0], 0x00);
    EXPECT_EQ(std::memcmp(wire[2].data.data() + 3, "LATE", 5), 0);
    EXPECT_EQ(RequestPattern(wire[3]), "LATE.*");
    EXPECT_EQ(RequestPortField(wire[3]), ref.port);

    EXPECT_EQ(trace->Lines(),
              ConnectedAfterRegistration("LATE", RequestPortField(wire[0]), linkPort, linkChan,
                                         RegisterCheck(wire[2]), ref.port, ref.chan));
    // The failed attempt's port is gone; the connection's port stays.
    EXPECT_EQ(port_count(RequestPortField(wire[0])), B_BAD_PORT_ID);
    EXPECT_GE(port_count(ref.port), 0);

    // Further register requests reuse the LINK channel.
    trace->Clear();
    EXPECT_TRUE(LinkReq("OTHER"));
    wire = device->Requests();
    ASSERT_EQ(wire.size(), 5u);
    EXPECT_EQ(wire[4].code, host_channel_packet(linkChan));
    EXPECT_EQ(trace->Lines()[1], "ConnLinkSrv ");
    EXPECT_EQ(trace->Lines()[2], "regreq i 35 bytes, reply in 39");
}

TEST_F(ServerChannel, DoCmdExchangesOnePacketForOneReply) {
    const std::vector<uint8> answer = {0x2A, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 0xFF};
    device->SetCommandReply("SYS$RFSV", answer);
    ChannelRef ref;
    ASSERT_NO_FATAL_FAILURE(ConnectTo("SYS$RFSV", ServersDevice::Answer::kAtOnce, &ref));
    trace->Clear();

    const uint8 packet[] = {0x10, 0x02, 0x00, 'M', ':'};
    void* reply = reinterpret_cast<void*>(1);
    ASSERT_EQ(DoCmd(ref, packet, sizeof(packet), &reply), 12);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(std::memcmp(reply, answer.data(), answer.size()), 0);
    free(reply);
    std::vector<ScriptedDevice::Request> wire = device->Requests();
    ASSERT_EQ(wire.size(), 2u);
    EXPECT_EQ(wire[1].code, host_channel_packet(ref.chan));
    EXPECT_EQ(wire[1].data, std::vector<uint8>(packet, packet + sizeof(packet)));
    EXPECT_EQ(trace->Lines(), DoCmdAnswered(ref.chan, ref.port, 5, 12));

    // Without a reply slot the reply is still read, and freed.
    EXPECT_EQ(DoCmd(ref, packet, sizeof(packet), nullptr), 12);

    // An empty reply: 0, no buffer, and taken off the port so it answers nothing else.
    device->SetCommandReply("SYS$RFSV", {});
    trace->Clear();
    reply = reinterpret_cast<void*>(1);
    EXPECT_EQ(DoCmd(ref, packet, sizeof(packet), &reply), 0);
    EXPECT_EQ(reply, nullptr);
    EXPECT_EQ(trace->Lines().back(), "port_buffer_size result 0");
    EXPECT_EQ(port_count(ref.port), 0);
    device->SetCommandReply("SYS$RFSV", answer);
    EXPECT_EQ(DoCmd(ref, packet, sizeof(packet), nullptr), 12);
}

TEST_F(ServerChannel, DisconnectClosesTheChannelButKeepsThePort) {
    ChannelRef ref;
    ASSERT_NO_FATAL_FAILURE(ConnectTo("SYS$RFSV", ServersDevice::Answer::kAtOnce, &ref));
    trace->Clear();
    EXPECT_EQ(Disconnect(ref), B_OK);
    ASSERT_EQ(device->WaitForRequests(2), 2u);
    ScriptedDevice::Request close = device->Requests()[1];
    EXPECT_EQ(close.code, host_disconnect_request(ref.chan));
    EXPECT_TRUE(close.data.empty());
    EXPECT_GE(port_count(ref.port), 0);
    EXPECT_TRUE(trace->Lines().empty());
}

TEST_F(ServerChannel, NamesThatDoNotFitAreRefusedNotCut) {
    device->SetServer("ABCDEFGHIJKLM", ServersDevice::Answer::kAtOnce);
    device->SetServer("ABCDEFGHIJKLMN", ServersDevice::Answer::kAtOnce);
    ChannelRef refused = ConnectServer("ABCDEFGHIJKLMN");
    EXPECT_EQ(refused.chan, 0);
    EXPECT_EQ(trace->Lines(), (std::vector<std::string>{
                                  "ConnectServer [ABCDEFGHIJKLMN]",
                                  "Server name [ABCDEFGHIJKLMN] is too long for a connect request",
                                  "Failed to connect to server ABCDEFGHIJKLMN"}));
    EXPECT_EQ(ConnReq("ABCDEFGHIJKLMN").chan, 0);
    EXPECT_FALSE(LinkReq(std::string(32, 'R').c_str()));
    EXPECT_TRUE(device->Requests().empty());

    // The longest names that fit travel whole.
    ChannelRef longest = ConnectServer("ABCDEFGHIJKLM");
    EXPECT_NE(longest.chan, 0);
    ASSERT_EQ(device->Requests().size(), 1u);
    EXPECT_EQ(RequestPattern(device->Requests()[0]), "ABCDEFGHIJKLM.*");
    EXPECT_EQ(device->Requests()[0].data.size(), 20u);
    EXPECT_TRUE(LinkReq(std::string(31, 'R').c_str()));
    std::vector<ScriptedDevice::Request> wire = device->Requests();
    EXPECT_EQ(wire.back().data.size(), 35u);
}

TEST_F(ServerChannel, WithoutRequestPortNothingIsSent) {
    device.reset();  // no "WritePsion"
    trace->Clear();
    EXPECT_EQ(GetPort("SYS$RFSV"), B_BAD_VALUE);
    EXPECT_EQ(trace->Lines(), std::vector<std::string>{"GetPort [SYS$RFSV]"});
    EXPECT_EQ(ConnLinkSrv(), 0);
    EXPECT_EQ(CurrentLinkHandle().port, B_BAD_VALUE);
    EXPECT_EQ(ConnReq("SYS$RFSV").port, B_BAD_VALUE);

    device = std::make_unique<ServersDevice>();
    trace->Clear();
    EXPECT_EQ(GetPort(nullptr), 0);
    EXPECT_EQ(trace->Lines(),
              (std::vector<std::string>{"GetPort [(null)]", "GetPort [(null)] port 0"}));
}

TEST_F(ServerChannel, ChannelZeroIsNoConnection) {
    device->SetServer("ZERO", ServersDevice::Answer::kAtOnce);
    device->SetFixedChannel(0);
    EXPECT_EQ(ConnLinkSrv(), 0);
    port_id firstLinkPort = CurrentLinkHandle().port;
    // The next call tries again, and drops the failed attempt's port.
    EXPECT_EQ(ConnLinkSrv(), 0);
    EXPECT_EQ(device->Requests().size(), 2u);
    EXPECT_EQ(port_count(firstLinkPort), B_BAD_PORT_ID);

    ChannelRef ref = ConnReq("ZERO");
    EXPECT_EQ(ref.chan, 0);
    EXPECT_GE(ref.port, 0);
    EXPECT_GE(port_count(ref.port), 0);  // "running" with channel 0: the port is kept
    EXPECT_EQ(trace->Lines().back(), "Server ZERO is running...");
    delete_port(ref.port);
}

TEST_F(ServerChannel, TeardownForgetsTheLinkAndTheRequestPort) {
    device->SetServer("LATE", ServersDevice::Answer::kAfterRegister);
    EXPECT_TRUE(LinkReq("LATE"));
    ChannelRef link = CurrentLinkHandle();
    ASSERT_NE(link.chan, 0);
    port_id oldRequestPort = device->RequestPort();
    EXPECT_EQ(CurrentRequestPort(), oldRequestPort);

    TearDownLinkState();
    EXPECT_EQ(port_count(link.port), B_BAD_PORT_ID);
    EXPECT_EQ(CurrentLinkHandle().port, B_BAD_VALUE);
    EXPECT_EQ(CurrentLinkHandle().chan, 0);
    EXPECT_EQ(CurrentRequestPort(), B_BAD_VALUE);

    // The next link: "WritePsion" is looked up again and a new LINK channel is opened.
    device = std::make_unique<ServersDevice>();
    EXPECT_NE(device->RequestPort(), oldRequestPort);
    EXPECT_TRUE(LinkReq("LATE"));
    EXPECT_EQ(CurrentRequestPort(), device->RequestPort());
    ASSERT_EQ(device->Requests().size(), 2u);
    EXPECT_EQ(RequestPattern(device->Requests()[0]), "LINK.*");
    EXPECT_NE(CurrentLinkHandle().port, link.port);
}

TEST_F(ServerChannel, TeardownWhileTheLooperUsesTheLinkIsSafe) {
    trace.reset();  // thousands of lines; not the subject here
    std::atomic<bool> stop{false};
    std::thread looper([&] {
        while (!stop) (void)LinkReq("SYS$RFSV");
    });
    for (int i = 0; i < 200; i++) {
        TearDownLinkState();
        snooze(500);
    }
    stop = true;
    looper.join();
    // Whatever the last attempt left, a LINK channel is only ever recorded with its own port.
    ChannelRef link = CurrentLinkHandle();
    if (link.chan != 0) {
        EXPECT_GE(port_count(link.port), 0);
    }
    TearDownLinkState();
    EXPECT_EQ(CurrentLinkHandle().port, B_BAD_VALUE);
}
