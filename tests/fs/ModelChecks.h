// What every model run checks, and the environment settings that let scripts/soak.sh run the
// same tests long.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>

#include "ModelRun.h"

namespace model {

inline uint32_t FromEnvironment(const char* name, uint32_t fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != 0 ? static_cast<uint32_t>(std::strtoul(text, nullptr, 10))
                                         : fallback;
}

// At least `operations` ran (more when the environment asks), no divergence, and with faults
// on (about one operation in `faultEvery` gets one armed) most of those struck.
inline void ExpectCleanRun(const Report& report, uint32_t operations, uint32_t faultEvery) {
    EXPECT_GE(report.operations, FromEnvironment("TAVRO_MODEL_OPERATIONS", operations));
    uint32_t every = faultEvery == 0 ? 0 : FromEnvironment("TAVRO_MODEL_FAULT_EVERY", faultEvery);
    if (every != 0) {
        EXPECT_GT(report.faultsStruck, report.operations / (6 * every));
    }
    EXPECT_TRUE(report.divergences.empty()) << report.divergences.front();
}

}  // namespace model
