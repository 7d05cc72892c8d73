// A model run against the in-process host's simulated handheld: the host's fault injection,
// the test's own settings unless the environment names others (scripts/soak.sh runs the same
// tests long), and a one-line account of the run.
#pragma once

#include <cstdio>

#include "ModelChecks.h"
#include "ModelRun.h"
#include "host/HostLink.h"

namespace model {

// `timeout`: the file system's reply time-out (µs) while faults are on; late replies come
// later still.
inline Settings SettingsFor(uint32_t seed, uint32_t operations, uint32_t faultEvery,
                            int64_t timeout) {
    Settings settings;
    settings.seed = FromEnvironment("TAVRO_MODEL_SEED", seed);
    settings.operations = FromEnvironment("TAVRO_MODEL_OPERATIONS", operations);
    settings.progressEvery = FromEnvironment("TAVRO_MODEL_PROGRESS", 0);
    settings.faultEvery =
        faultEvery == 0 ? 0 : FromEnvironment("TAVRO_MODEL_FAULT_EVERY", faultEvery);
    settings.lateDelay = 2 * timeout;
    return settings;
}

inline Report RunOnHost(const char* name, Target& target, vantrel::HostLink& host,
                        const Settings& settings) {
    Faults faults;
    faults.arm = [&host](const handheld::FaultRule& rule) { host.Faults().Add(rule); };
    faults.clear = [&host] { host.ClearFaults(); };
    faults.strikes = [&host] { return host.Faults().Strikes(); };
    Report report = Run(target, faults, settings);
    std::printf(
        "%s seed %u: %llu operations, %llu struck by a fault (%llu of them failed), %llu link "
        "errors without a fault, %zu divergences\n",
        name, settings.seed, static_cast<unsigned long long>(report.operations),
        static_cast<unsigned long long>(report.faultsStruck),
        static_cast<unsigned long long>(report.failedUnderFault),
        static_cast<unsigned long long>(report.unprovokedFailures), report.divergences.size());
    return report;
}

}  // namespace model
