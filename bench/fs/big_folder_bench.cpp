// Creating files and looking up missing names in a folder of 1,000 to 10,000 entries, through
// the kernel's system calls against the host's simulated Series 3 with an instant link: the time
// per operation should not grow with the folder.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

#include "../MountedDrive.h"

namespace {

// A folder BIG holding `entries` empty files, made behind the mount's back.
bool FillFolder(Mounted& m, int64_t entries) {
    std::string folder = m.folder + "/BIG";
    if (mkdir(folder.c_str(), 0755) != 0) return false;
    for (int64_t i = 0; i < entries; i++) {
        char name[32];
        snprintf(name, sizeof name, "/F%06lld.TXT", static_cast<long long>(i));
        int fd = ::open((folder + name).c_str(), O_CREAT | O_WRONLY, 0644);
        if (fd < 0) return false;
        ::close(fd);
    }
    return true;
}

// Runs `step` on a fresh name (BIG/<letter>NNNNNN.TXT) per iteration in a folder of
// state.range(0) entries; `counter` gets the requests per step.
void InBigFolder(benchmark::State& state, char letter, const char* counter,
                 const std::function<bool(const std::string&)>& step) {
    Mounted m(handheld::LinkSpeed::Unlimited());
    if (!m.ok || !FillFolder(m, state.range(0))) return state.SkipWithError("setup failed");
    int64_t done = 0;
    for (auto _ : state) {
        char name[32];
        snprintf(name, sizeof name, "BIG/%c%06lld.TXT", letter, static_cast<long long>(done++));
        if (!step(m.Path(name))) return state.SkipWithError("step failed");
    }
    state.counters[counter] =
        m.host->Trace().CountEvents(handheld::TraceEvent::Request, m.channel->Channel()) /
        double(state.iterations());
}

void BM_CreateInBigFolder(benchmark::State& state) {
    InBigFolder(state, 'N', "requests_per_create", [](const std::string& path) {
        int fd = sys_open(path.c_str(), B_O_WRONLY | B_O_CREAT | B_O_EXCL, 0644);
        return fd >= 0 && sys_close(fd) == B_OK;
    });
}

void BM_MissingNameInBigFolder(benchmark::State& state) {
    InBigFolder(state, 'M', "requests_per_lookup", [](const std::string& path) {
        be_stat st;
        return sys_stat(path.c_str(), &st) == B_ENTRY_NOT_FOUND;
    });
}

// Folders of 100, 1,000 and 10,000 entries, 300 operations in each.
void InFolderSizes(benchmark::internal::Benchmark* bench) {
    bench->Arg(100)->Arg(1000)->Arg(10000)->Iterations(300)->UseRealTime()->Unit(
        benchmark::kMillisecond);
}

BENCHMARK(BM_CreateInBigFolder)->Apply(InFolderSizes);
BENCHMARK(BM_MissingNameInBigFolder)->Apply(InFolderSizes);

}  // namespace
