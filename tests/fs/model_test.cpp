// The model-based random-operation run through the kernel's system calls, against the
// simulated Series 3 behind the in-process host, with the device's faults. A bounded number of
// operations over fixed seeds; scripts/soak.sh runs it long (TAVRO_MODEL_OPERATIONS,
// TAVRO_MODEL_SEED, TAVRO_MODEL_PROGRESS).
#include <string>

#include "ModelHost.h"
#include "ModelKernelTarget.h"
#include "ShortTimeouts.h"
#include "StackFixture.h"
#include "tavro.h"

namespace {

using stack::StackTest;

class ModelTest : public StackTest {
protected:
    // Runs the model and expects a clean run.
    void Check(uint32 seed, uint32 operations, uint32 faultEvery) {
        if (faultEvery != 0) ShortenTimeouts(where, kTimeout);
        model::KernelTarget target(where);
        model::Settings settings = model::SettingsFor(seed, operations, faultEvery, kTimeout);
        settings.hostFolder = folder;
        settings.renameReplaces = false;  // the volume refuses a name that exists
        model::ExpectCleanRun(model::RunOnHost("model run", target, *host, settings), operations,
                              faultEvery);
    }

    // Lost replies cost this much each; a busy machine can still answer within it.
    static constexpr bigtime_t kTimeout = 400000;
};

TEST_F(ModelTest, RandomOperationsInMixedCaseMatchTheModel) { Check(11, 1000, 0); }

// Faults on about one operation in four. Bounded for the suite (about 20 s under asan);
// scripts/soak.sh runs it long over many seeds.
TEST_F(ModelTest, RandomOperationsUnderLostLateShortAndGarbledRepliesNeverLie) {
    Check(23, 300, 4);
}

}  // namespace
