// The transport semaphore is taken and given back around every device request.
#include <benchmark/benchmark.h>

#include "platform/OS.h"

namespace {

void BM_SemAcquireReleaseUncontended(benchmark::State& state) {
    sem_id sem = create_sem(1, "bench sem");
    for (auto _ : state) {
        benchmark::DoNotOptimize(acquire_sem(sem));
        benchmark::DoNotOptimize(release_sem(sem));
    }
    delete_sem(sem);
}
BENCHMARK(BM_SemAcquireReleaseUncontended);

void BM_SemAcquireWithTimeoutUncontended(benchmark::State& state) {
    sem_id sem = create_sem(1, "bench sem timeout");
    for (auto _ : state) {
        benchmark::DoNotOptimize(acquire_sem_etc(sem, 1, B_TIMEOUT, 1000000));
        benchmark::DoNotOptimize(release_sem(sem));
    }
    delete_sem(sem);
}
BENCHMARK(BM_SemAcquireWithTimeoutUncontended);

}  // namespace
