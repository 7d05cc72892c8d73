// Loading client add-ons: exports read, Initialise once, RunClient per link on its own
// thread, the link-down message at the end; files that are no add-ons are skipped.
#include <pthread.h>
#include <signal.h>

#include <fstream>

#include "HostTestSupport.h"
#include "TestAddOnState.h"
#include "host/MountClientSettings.h"

using namespace hosttest;

namespace {

const std::string kTestAddOn = std::string(TEST_ADDON_DIR) + "/test_client_addon.so";

TestAddOnState* StateOf(const vantrel::AddOn& addOn) {
    auto get = reinterpret_cast<TestAddOnState* (*)()>(addOn.Symbol("TestAddOnStatePointer"));
    return get != nullptr ? get() : nullptr;
}

TEST_F(HostTest, AddOnRunsPerLinkAndGetsTheLinkDownMessage) {
    vantrel::HostOptions options;
    options.addOnFolder = TEST_ADDON_DIR;
    StartHost(options);
    ASSERT_EQ(host->AddOns().size(), 1u);
    const vantrel::AddOn& addOn = *host->AddOns()[0];
    EXPECT_EQ(addOn.Name(), "test_client_addon");
    EXPECT_STREQ(addOn.InfoVersion(), "9.9.9  test add-on");
    EXPECT_STREQ(addOn.InfoLine1(), "line one");
    EXPECT_STREQ(addOn.InfoLine3(), "line three");
    EXPECT_NE(addOn.ConfigViewSymbol(), nullptr);  // its settings, like the mount client's
    TestAddOnState* state = StateOf(addOn);
    ASSERT_NE(state, nullptr);

    // The add-on connects by itself once its thread runs. The host counts the channel before
    // the add-on has read its reply, and a link-down in between would rightly refuse it.
    for (int i = 0; i < 500 && __atomic_load_n(&state->channel, __ATOMIC_ACQUIRE) == 0; ++i)
        snooze(10000);
    ASSERT_EQ(host->OpenChannels(), 1u);
    ASSERT_EQ(host->LinkDown(), B_OK);
    // LinkDown returns only after the thread has ended.
    EXPECT_EQ(state->linkDowns, 1);
    EXPECT_EQ(state->runs, 1);
    EXPECT_EQ(state->lastVersion, 3);
    EXPECT_NE(state->channel, 0);

    ASSERT_EQ(host->LinkUp(), B_OK);
    ASSERT_EQ(host->LinkDown(), B_OK);
    EXPECT_EQ(state->runs, 2);
    EXPECT_EQ(state->linkDowns, 2);
    EXPECT_EQ(state->initialised, 1);
}

TEST_F(HostTest, AddOnHearsTheFamilyAndTheMountRoot) {
    vantrel::HostOptions options;
    options.family = vantrel::Family::Series5;
    options.addOnFiles = {kTestAddOn};
    options.mountRoot = "/tmp/psion-test-root";
    StartHost(options);
    ASSERT_EQ(host->AddOns().size(), 1u);
    vantrel::ClientSettings settings;
    std::string error;
    ASSERT_EQ(vantrel::ReadThroughConfigView(*host->AddOns()[0], settings, error), B_OK) << error;
    EXPECT_EQ(settings.mountRoot, "/tmp/psion-test-root");
    ASSERT_EQ(host->LinkDown(), B_OK);
    EXPECT_EQ(StateOf(*host->AddOns()[0])->lastVersion, 5);
}

// A client that holds the link-down up (a busy mount) is let go by detaching: at once, on a
// second stop signal, or after the patience; a client that ends by itself detaches nothing.
TEST_F(HostTest, BusyMountsAreDetachedAtOnceOnASecondSignalOrAfterThePatience) {
    vantrel::HostOptions options;
    options.addOnFiles = {kTestAddOn};
    StartHost(options);
    TestAddOnState* state = StateOf(*host->AddOns()[0]);
    ASSERT_NE(state, nullptr);
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGUSR2);
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &signals, nullptr), 0);

    // Once the add-on's connect is answered, it waits for nothing but the link-down.
    auto connected = [&] {
        for (int i = 0; i < 500 && host->OpenChannels() == 0; ++i) snooze(10000);
        return host->OpenChannels() == 1;
    };
    ASSERT_TRUE(connected());
    int detaches = 0;
    vantrel::HostLink::BusyMounts busy;
    busy.signals = signals;
    busy.detach = [&] {
        ++detaches;
        __atomic_store_n(&state->detached, 1, __ATOMIC_RELEASE);
    };
    ASSERT_EQ(host->LinkDown(busy), B_OK);
    EXPECT_EQ(detaches, 0);

    enum class Way { AtOnce, Signal, Patience };
    for (Way way : {Way::AtOnce, Way::Signal, Way::Patience}) {
        SCOPED_TRACE(static_cast<int>(way));
        state->busyUntilDetached = 1;
        state->detached = 0;
        ASSERT_EQ(host->LinkUp(), B_OK);
        ASSERT_TRUE(connected());
        int ended = state->linkDowns;
        busy.detachAtOnce = way == Way::AtOnce;
        // Short, or far beyond the test's run.
        busy.patience = way == Way::Patience ? 300000 : 600000000;
        if (way == Way::Signal) pthread_kill(pthread_self(), SIGUSR2);
        detaches = 0;
        ASSERT_EQ(host->LinkDown(busy), B_OK);
        EXPECT_EQ(detaches, 1);
        EXPECT_EQ(state->linkDowns, ended + 1);
        EXPECT_FALSE(host->IsLinkUp());
    }
    state->busyUntilDetached = 0;
    ASSERT_EQ(pthread_sigmask(SIG_UNBLOCK, &signals, nullptr), 0);
}

TEST_F(HostTest, FilesThatAreNoAddOnsAreSkipped) {
    TempFolder addOns;
    addOns.Write("junk.so", "this is not a shared object");
    addOns.Write("notes.txt", "ignored: not a .so");
    vantrel::HostOptions options;
    options.addOnFolder = addOns.Path();
    // A real shared object without RunClient.
    options.addOnFiles = {std::string(TAVRO_BIN_DIR) + "/../lib/libdevice.so",
                          "/nonexistent/none.so"};
    StartHost(options);
    EXPECT_TRUE(host->AddOns().empty());
    EXPECT_TRUE(host->IsLinkUp());
}

}  // namespace
