// The gateway's request bytes, and the register reply trace that must stay inside the reply.
#include <gtest/gtest.h>

#include <cstring>

#include "GatewayTestSupport.h"
#include "LinkPackets.h"
#include "platform/HostProtocol.h"

// The gateway's connect requests, as ServerChannel and ConnLinkSrv build them.
TEST(LinkPackets, ConnectRequestsCarryPortAndPattern) {
    uint8 out[kConnectRequestMax];
    ASSERT_EQ(host_connect_request(out, sizeof(out), 37, "SYS$RFSV"), 15u);
    const uint8 rfsv[] = {0x25, 0, 0, 0, 'S', 'Y', 'S', '$', 'R', 'F', 'S', 'V', '.', '*', 0};
    EXPECT_EQ(std::memcmp(out, rfsv, sizeof(rfsv)), 0);

    uint8 link[kConnectRequestMax];
    ASSERT_EQ(host_connect_request(link, sizeof(link), 37, "LINK", kLinkConnectRequestSize),
              kLinkConnectRequestSize);
    const uint8 linkBytes[12] = {0x25, 0, 0, 0, 'L', 'I', 'N', 'K', '.', '*', 0, 0};
    EXPECT_EQ(std::memcmp(link, linkBytes, kLinkConnectRequestSize), 0);

    uint8 longest[kConnectRequestMax];
    EXPECT_EQ(host_connect_request(longest, sizeof(longest), 0x01020304, "ABCDEFGHIJKLM"), 20u);
    EXPECT_EQ(longest[0], 0x04);
    EXPECT_EQ(longest[3], 0x01);
    EXPECT_STREQ(reinterpret_cast<char*>(longest + 4), "ABCDEFGHIJKLM.*");
}

TEST(LinkPackets, RegisterRequestCarriesCheckAndName) {
    uint8 out[kRegisterRequestMax];
    ASSERT_EQ(BuildRegisterRequest("SYS$RFSV", 0x1A2B, out), 12u);
    const uint8 expected[] = {0x00, 0x2B, 0x1A, 'S', 'Y', 'S', '$', 'R', 'F', 'S', 'V', 0};
    EXPECT_EQ(std::memcmp(out, expected, sizeof(expected)), 0);
    std::string longest(31, 'N');
    EXPECT_EQ(BuildRegisterRequest(longest.c_str(), 0, out), 35u);
    EXPECT_EQ(out[34], 0);
}

TEST(LinkPackets, RegisterReplyTraceReadsOnlyWhatArrived) {
    TraceCapture trace;
    // Exactly sized heap copies, so that a read past the reply is caught.
    auto traced = [&](std::vector<uint8> bytes) {
        std::vector<uint8> exact(bytes);
        exact.shrink_to_fit();
        trace.Clear();
        TraceRegisterReply(exact.data(), exact.size(), 0x1234);
        return trace.Lines();
    };
    EXPECT_EQ(traced({0x00}), std::vector<std::string>{"Register cmd reply too short (1 bytes)"});
    EXPECT_EQ(traced({0x00, 0x34, 0x12, 0x00}),
              std::vector<std::string>{"Register cmd reply too short (4 bytes)"});
    EXPECT_EQ(traced({0x01, 0x34, 0x12, 0x05, 0x00}),
              (std::vector<std::string>{"Register cmd reply code 1 check=1234, sent: 1234",
                                        "Register cmd returned status 5, name "}));
    EXPECT_EQ(traced({0x00, 0x99, 0x88, 0x00, 0x00, 0, 0, 'A', 'B', 'C'}),
              (std::vector<std::string>{"Register cmd reply code 0 check=8899, sent: 1234",
                                        "Register cmd returned status 0, name ABC"}));
    std::vector<uint8> full(7 + 40, 'Z');
    full[0] = 0;
    EXPECT_EQ(traced(full)[1], "Register cmd returned status 5a5a, name " + std::string(32, 'Z'));
    std::vector<uint8> normal(39, 0);
    std::memcpy(normal.data() + 7, "SYS$RFSV", 8);
    EXPECT_EQ(traced(normal)[1], "Register cmd returned status 0, name SYS$RFSV");
}
