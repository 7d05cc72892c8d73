// The gateway's waits as the environment sets them: whole milliseconds, anything else ignored.
#include <gtest/gtest.h>

#include <cstdlib>

#include "GatewayWaits.h"

namespace {

class EnvironmentWaits : public ::testing::Test {
protected:
    void TearDown() override {
        for (const char* name :
             {"TAVRO_GATE_CONNECT_MS", "TAVRO_GATE_LINK_CONNECT_MS", "TAVRO_GATE_REPLY_MS"})
            unsetenv(name);
    }
};

TEST_F(EnvironmentWaits, UnsetMeansTheBuiltInWaits) {
    GatewayWaits waits = GatewayWaits::FromEnvironment();
    EXPECT_EQ(waits.connect, 3000000);
    EXPECT_EQ(waits.linkConnect, 10000000);
    EXPECT_EQ(waits.reply, 10000000);
}

TEST_F(EnvironmentWaits, EachIsSetOnItsOwnInMilliseconds) {
    setenv("TAVRO_GATE_CONNECT_MS", "250", 1);
    setenv("TAVRO_GATE_LINK_CONNECT_MS", "3600000", 1);  // an hour, the most
    setenv("TAVRO_GATE_REPLY_MS", "1", 1);
    GatewayWaits waits = GatewayWaits::FromEnvironment();
    EXPECT_EQ(waits.connect, 250000);
    EXPECT_EQ(waits.linkConnect, 3600000000LL);
    EXPECT_EQ(waits.reply, 1000);
}

TEST_F(EnvironmentWaits, ValuesThatAreNotAWholeNumberOfMillisecondsAreIgnored) {
    // Zero would make every wait fail at once, and more than an hour is taken for a mistake.
    for (const char* bad :
         {"", "0", "-5", "+5", " 5", "5 ", "5ms", "1.5", "3600001", "99999999999999999999999"}) {
        setenv("TAVRO_GATE_REPLY_MS", bad, 1);
        EXPECT_EQ(GatewayWaits::FromEnvironment().reply, 10000000) << "'" << bad << "'";
    }
}

TEST_F(EnvironmentWaits, TheWaitsInForceAreReplacedWhole) {
    GatewayWaits waits;
    waits.connect = 1;
    waits.linkConnect = 2;
    waits.reply = 3;
    SetGatewayWaits(waits);
    GatewayWaits now = CurrentGatewayWaits();
    EXPECT_EQ(now.connect, 1);
    EXPECT_EQ(now.linkConnect, 2);
    EXPECT_EQ(now.reply, 3);
    SetGatewayWaits(GatewayWaits{});
    EXPECT_EQ(CurrentGatewayWaits().reply, 10000000);
}

}  // namespace
