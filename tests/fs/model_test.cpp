// The model-based random-operation run through the kernel's system calls, against the
// simulated Series 3 behind the in-process host, with the device's faults. A bounded number of
// operations over fixed seeds; scripts/soak.sh runs it long (TAVRO_MODEL_OPERATIONS,
// TAVRO_MODEL_SEED, TAVRO_MODEL_PROGRESS).
#include <cstdlib>
#include <string>

#include "ModelChecks.h"
#include "ModelKernelTarget.h"
#include "ModelRun.h"
#include "ShortTimeouts.h"
#include "StackFixture.h"
#include "tavro.h"

namespace {

using model::FromEnvironment;
using model::KernelTarget;

using stack::StackTest;

class ModelTest : public StackTest {
protected:
    model::Report RunModel(uint32 seed, uint32 operations, uint32 faultEvery) {
        // Late replies come later still than the short time-outs.
        if (faultEvery != 0) ShortenTimeouts(where, kTimeout);
        KernelTarget target(where);
        model::Faults faults;
        faults.arm = [this](const handheld::FaultRule& rule) { host->Faults().Add(rule); };
        faults.clear = [this] { host->ClearFaults(); };
        faults.strikes = [this] { return host->Faults().Strikes(); };
        model::Settings settings;
        settings.seed = FromEnvironment("TAVRO_MODEL_SEED", seed);
        settings.operations = FromEnvironment("TAVRO_MODEL_OPERATIONS", operations);
        settings.progressEvery = FromEnvironment("TAVRO_MODEL_PROGRESS", 0);
        settings.faultEvery = FromEnvironment("TAVRO_MODEL_FAULT_EVERY", faultEvery);
        settings.lateDelay = 2 * kTimeout;
        settings.hostFolder = folder;
        settings.renameReplaces = false;  // the volume refuses a name that exists
        model::Report report = model::Run(target, faults, settings);
        printf(
            "model run seed %u: %llu operations, %llu struck by a fault (%llu of them failed), "
            "%llu link errors without a fault, %zu divergences\n",
            settings.seed, static_cast<unsigned long long>(report.operations),
            static_cast<unsigned long long>(report.faultsStruck),
            static_cast<unsigned long long>(report.failedUnderFault),
            static_cast<unsigned long long>(report.unprovokedFailures), report.divergences.size());
        return report;
    }

    // Lost replies cost this much each; a busy machine can still answer within it.
    static constexpr bigtime_t kTimeout = 400000;
};

TEST_F(ModelTest, RandomOperationsInMixedCaseMatchTheModel) {
    model::Report report = RunModel(11, 1000, 0);
    model::ExpectCleanRun(report, 1000, 0);
}

// Faults on about one operation in four. Bounded for the suite (about 20 s under asan);
// scripts/soak.sh runs it long over many seeds.
TEST_F(ModelTest, RandomOperationsUnderLostLateShortAndGarbledRepliesNeverLie) {
    model::Report report = RunModel(23, 300, 4);
    model::ExpectCleanRun(report, 300, 4);
}

}  // namespace
