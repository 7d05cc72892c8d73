// The model-based random-operation run on tavro5: the kernel's system calls, against the
// simulated Series 5 behind the in-process host (long, case-preserving names, any size can be
// set), with the device's faults. A bounded number of operations over fixed seeds;
// scripts/soak.sh runs it long (TAVRO_MODEL_OPERATIONS, TAVRO_MODEL_SEED, TAVRO_MODEL_PROGRESS,
// TAVRO_MODEL_FAULT_EVERY).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ModelChecks.h"
#include "ModelKernelTarget.h"
#include "ModelRun.h"
#include "MountBlockBytes.h"
#include "RawChannel.h"
#include "host/HostLink.h"
#include "kernel/syscalls.h"
#include "platform/ByteOrder.h"
#include "tavro5.h"

namespace {

using model::FromEnvironment;
using model::KernelTarget;

// The host with a simulated Series 5 whose drive C: is an empty temporary folder, and the real
// tavro5.so mounted on it through the kernel.
class Series5Model : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tavro5-model-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        std::filesystem::create_directories(folder + "/c");
        vantrel::HostOptions options;
        options.family = vantrel::Family::Series5;
        vantrel::DriveSetup c;
        c.letter = 'C';
        c.volumeName = "Internal";
        c.folder = folder + "/c";
        c.capacity = 8 * 1024 * 1024;
        options.drives = {c};
        host = std::make_unique<vantrel::HostLink>(options);
        ASSERT_EQ(host->Start(), B_OK);
        ASSERT_EQ(host->LinkUp(), B_OK);
        channel = std::make_unique<vantrel::RawChannel>();
        ASSERT_EQ(channel->Connect("SYS$RFSV"), B_OK);
        sem = create_sem(1, "RFSV-NCP-Write");
        kernel_set_addon_path(TAVRO_FS_ADDON_DIR);
        MountBlockBytes block = MakeMountBlock(host->RequestPort(), channel->ReplyPort(),
                                               channel->Channel(), sem, "C:", kWhere);
        ASSERT_EQ(mount("tavro5", kWhere, nullptr, 0, block.data(), block.size()), B_OK);
        mounted = true;
    }

    void TearDown() override {
        if (mounted) {
            EXPECT_EQ(unmount(kWhere), B_OK);
        }
        channel.reset();
        if (host) host->LinkDown();
        host.reset();
        if (sem >= 0) delete_sem(sem);
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    model::Report RunModel(uint32 seed, uint32 operations, uint32 faultEvery) {
        model::Settings settings;
        settings.seed = FromEnvironment("TAVRO_MODEL_SEED", seed);
        settings.operations = FromEnvironment("TAVRO_MODEL_OPERATIONS", operations);
        settings.progressEvery = FromEnvironment("TAVRO_MODEL_PROGRESS", 0);
        settings.faultEvery =
            faultEvery == 0 ? 0 : FromEnvironment("TAVRO_MODEL_FAULT_EVERY", faultEvery);
        if (settings.faultEvery != 0) {
            // Short time-outs, so that lost replies cost little; late replies come later still.
            nspace_id nsid;
            EXPECT_EQ(kernel_volume_at(kWhere, &nsid, nullptr), B_OK);
            auto* vol = static_cast<tavro5::volume*>(kernel_volume_cookie(nsid));
            EXPECT_NE(vol, nullptr);
            if (vol != nullptr) vol->timeout = kTimeout;
        }
        KernelTarget target(kWhere);
        model::Faults faults;
        faults.arm = [this](const handheld::FaultRule& rule) { host->Faults().Add(rule); };
        faults.clear = [this] { host->ClearFaults(); };
        faults.strikes = [this] { return host->Faults().Strikes(); };
        settings.lateDelay = 2 * kTimeout;
        settings.hostFolder = folder + "/c";
        settings.renameReplaces = true;  // the family has a request that replaces
        settings.family.longNames = true;
        settings.family.anySize = true;
        model::Report report = model::Run(target, faults, settings);
        printf(
            "tavro5 model run seed %u: %llu operations, %llu struck by a fault (%llu of them "
            "failed), %llu link errors without a fault, %zu divergences\n",
            settings.seed, static_cast<unsigned long long>(report.operations),
            static_cast<unsigned long long>(report.faultsStruck),
            static_cast<unsigned long long>(report.failedUnderFault),
            static_cast<unsigned long long>(report.unprovokedFailures), report.divergences.size());
        return report;
    }

    static constexpr const char* kWhere = "/s5/Model";
    // Lost replies cost this much each; a busy machine can still answer within it.
    static constexpr bigtime_t kTimeout = 300000;

    std::string folder;
    std::unique_ptr<vantrel::HostLink> host;
    std::unique_ptr<vantrel::RawChannel> channel;
    sem_id sem = -1;
    bool mounted = false;
};

TEST_F(Series5Model, RandomOperationsWithLongMixedCaseNamesMatchTheModel) {
    model::Report report = RunModel(11, 1500, 0);
    model::ExpectCleanRun(report, 1500, 0);
}

TEST_F(Series5Model, RandomOperationsUnderLostLateShortAndGarbledRepliesNeverLie) {
    model::Report report = RunModel(23, 800, 4);
    model::ExpectCleanRun(report, 800, 4);
}

}  // namespace
