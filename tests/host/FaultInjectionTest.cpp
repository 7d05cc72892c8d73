// Each fault of the simulated link doing what it says, seen through raw port messages.
#include <filesystem>

#include "HostTestSupport.h"

using namespace hosttest;
using handheld::TraceEvent;
using vantrel::FaultRule;
using vantrel::RawChannel;

namespace {

FaultRule Fault(const char* text) {
    auto rule = FaultRule::Parse(text);
    EXPECT_TRUE(rule) << text;
    return rule ? *rule : FaultRule();
}

class FaultTest : public HostTest {
protected:
    void SetUp() override {
        StartHost();
        ASSERT_EQ(rfsv.Connect("SYS$RFSV", kAnswer), B_OK);
        folder.Write("A.TXT", "abc");
        Bytes reply;
        ASSERT_EQ(rfsv.Transact(Finfo("M:\\A.TXT"), normal, kAnswer), B_OK);
        ASSERT_EQ(normal.size(), 22u);
    }
    RawChannel rfsv;
    Bytes normal;  // the undisturbed reply to FINFO of A.TXT
};

TEST_F(FaultTest, NoReplyToTheNthRequestButItIsCarriedOut) {
    host->SetFaults({Fault("drop:2")});
    Bytes reply;
    ASSERT_EQ(rfsv.Transact(Finfo("M:\\A.TXT"), reply, kAnswer), B_OK);
    EXPECT_EQ(rfsv.Transact(Payload().Str("M:\\MADE").Packet(MKDIR), reply, kNoAnswer),
              B_TIMED_OUT);
    EXPECT_TRUE(folder.Exists("MADE"));
    ASSERT_EQ(rfsv.Transact(Finfo("M:\\A.TXT"), reply, kAnswer), B_OK);
    EXPECT_EQ(reply, normal);
    EXPECT_EQ(host->Faults().Strikes(), 1u);
    EXPECT_EQ(host->Trace().CountEvents(TraceEvent::Fault), 1u);
}

TEST_F(FaultTest, LateReplyComesAfterTheCallerGaveUp) {
    host->SetFaults({Fault("late:1:400")});
    Bytes reply;
    bigtime_t start = system_time();
    EXPECT_EQ(rfsv.Transact(Finfo("M:\\A.TXT"), reply, 100000), B_TIMED_OUT);
    // It is still on its way and arrives later, unchanged.
    ASSERT_EQ(rfsv.Receive(reply, kAnswer), B_OK);
    EXPECT_GE(system_time() - start, 400000);
    EXPECT_EQ(reply, normal);
}

TEST_F(FaultTest, TruncatedReplyKeepsTheFirstBytes) {
    host->SetFaults({Fault("truncate:1:3")});
    Bytes reply;
    ASSERT_EQ(rfsv.Transact(Finfo("M:\\A.TXT"), reply, kAnswer), B_OK);
    EXPECT_EQ(reply, Bytes(normal.begin(), normal.begin() + 3));
}

TEST_F(FaultTest, GarbageReplyHasTheLengthButNotTheBytes) {
    host->SetFaults({Fault("garbage:1")});
    Bytes reply;
    ASSERT_EQ(rfsv.Transact(Finfo("M:\\A.TXT"), reply, kAnswer), B_OK);
    EXPECT_EQ(reply.size(), normal.size());
    EXPECT_NE(reply, normal);
}

TEST_F(FaultTest, FaultsForOneServerLeaveOthersAlone) {
    host->SetFaults({Fault("drop:1@LINK")});
    Bytes reply;
    ASSERT_EQ(rfsv.Transact(Finfo("M:\\A.TXT"), reply, kAnswer), B_OK);
    RawChannel link;
    ASSERT_EQ(link.Connect("LINK", kAnswer), B_OK);
    EXPECT_EQ(link.Transact({0, 1, 2, 'E', 'C', 'H', 'O', 0}, reply, kNoAnswer), B_TIMED_OUT);
}

TEST_F(FaultTest, LinkCutDeletesThePortsAndTakesTheLinkDown) {
    host->SetFaults({Fault("cut:1")});
    Bytes reply;
    EXPECT_EQ(rfsv.Transact(Finfo("M:\\A.TXT"), reply, kAnswer), B_BAD_PORT_ID);
    EXPECT_TRUE(host->WaitForLinkDown(kAnswer));
    EXPECT_LT(find_port(HOST_REQUEST_PORT_NAME), 0);
    EXPECT_EQ(host->Trace().CountEvents(TraceEvent::LinkDown), 1u);
    // The faults stay armed but have struck; a new link works.
    ASSERT_EQ(host->LinkUp(), B_OK);
    RawChannel again;
    ASSERT_EQ(again.Connect("SYS$RFSV", kAnswer), B_OK);
    ASSERT_EQ(again.Transact(Finfo("M:\\A.TXT"), reply, kAnswer), B_OK);
    EXPECT_EQ(reply, normal);
}

}  // namespace
