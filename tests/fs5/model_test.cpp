// The model-based random-operation run on tavro5: the kernel's system calls, against the
// simulated Series 5 behind the in-process host (long, case-preserving names, any size can be
// set), with the device's faults. A bounded number of operations over fixed seeds;
// scripts/soak.sh runs it long (TAVRO_MODEL_OPERATIONS, TAVRO_MODEL_SEED, TAVRO_MODEL_PROGRESS,
// TAVRO_MODEL_FAULT_EVERY).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "HostMount.h"
#include "ModelHost.h"
#include "ModelKernelTarget.h"
#include "TempDir.h"
#include "kernel/syscalls.h"
#include "tavro5.h"

namespace {

// The host with a simulated Series 5 whose drive C: is an empty temporary folder, and the real
// tavro5.so mounted on it through the kernel.
class Series5Model : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(folder.empty());
        std::filesystem::create_directories(folder + "/c");
        vantrel::HostOptions options;
        options.family = vantrel::Family::Series5;
        options.drives = {HostDrive('C', "Internal", folder + "/c")};
        ASSERT_EQ(stack.Start(options), B_OK);
        ASSERT_EQ(stack.Mount("tavro5", "C:", kWhere), B_OK);
    }

    void TearDown() override { EXPECT_EQ(stack.Stop(), B_OK); }

    // Runs the model and expects a clean run.
    void Check(uint32 seed, uint32 operations, uint32 faultEvery) {
        model::Settings settings = model::SettingsFor(seed, operations, faultEvery, kTimeout);
        if (settings.faultEvery != 0) {
            // Short time-outs, so that lost replies cost little.
            nspace_id nsid;
            EXPECT_EQ(kernel_volume_at(kWhere, &nsid, nullptr), B_OK);
            auto* vol = static_cast<tavro5::volume*>(kernel_volume_cookie(nsid));
            EXPECT_NE(vol, nullptr);
            if (vol != nullptr) vol->timeout = kTimeout;
        }
        model::KernelTarget target(kWhere);
        settings.hostFolder = folder + "/c";
        settings.renameReplaces = true;  // the family has a request that replaces
        settings.family.longNames = true;
        settings.family.anySize = true;
        model::ExpectCleanRun(model::RunOnHost("tavro5 model run", target, *stack.host, settings),
                              operations, faultEvery);
    }

    static constexpr const char* kWhere = "/s5/Model";
    // Lost replies cost this much each; a busy machine can still answer within it.
    static constexpr bigtime_t kTimeout = 300000;

    TempDir temp{"tavro5-model"};
    std::string folder = temp.path();
    HostMount stack;
};

TEST_F(Series5Model, RandomOperationsWithLongMixedCaseNamesMatchTheModel) { Check(11, 1500, 0); }

TEST_F(Series5Model, RandomOperationsUnderLostLateShortAndGarbledRepliesNeverLie) {
    Check(23, 800, 4);
}

}  // namespace
