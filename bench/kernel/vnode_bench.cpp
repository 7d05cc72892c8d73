// Costs of the vnode layer over the in-memory test file system: cached lookups, lookups that
// read the node in each time, and whole path walks.
#include <benchmark/benchmark.h>

#include "kernel/syscalls.h"
#include "memfs.h"

namespace {

struct Volume {
    nspace_id nsid = 0;
    vnode_id root = 0;
    explicit Volume(const char* where) : where_(where) {
        kernel_register_fs("memfs", &memfs::Ops(), B_CURRENT_FS_API_VERSION);
        mount("memfs", where, nullptr, 0, nullptr, 0);
        kernel_volume_at(where, &nsid, &root);
        sys_mkdir((where_ + "/a").c_str(), 0755);
        sys_mkdir((where_ + "/a/b").c_str(), 0755);
        sys_close(sys_open((where_ + "/a/b/f").c_str(), B_O_RDWR | B_O_CREAT, 0644));
    }
    ~Volume() { unmount(where_.c_str()); }
    std::string where_;
};

// A lookup and put of one name with `unusedLimit` unused vnodes kept: with none, every lookup
// reads the node in again.
void BM_LookupAndPut(benchmark::State& state, int32 unusedLimit, const char* where) {
    kernel_set_unused_vnode_limit(unusedLimit);
    Volume vol(where);
    for (auto _ : state) {
        vnode_id a = 0;
        vfs_lookup(vol.nsid, vol.root, "a", &a);
        vfs_put(vol.nsid, a);
    }
    kernel_set_unused_vnode_limit(256);
}
BENCHMARK_CAPTURE(BM_LookupAndPut, Cached, 256, "/bench/cached");
BENCHMARK_CAPTURE(BM_LookupAndPut, Uncached, 0, "/bench/uncached");

void BM_PathStat(benchmark::State& state) {
    kernel_set_unused_vnode_limit(256);
    Volume vol("/bench/path");
    be_stat st{};
    for (auto _ : state) sys_stat("/bench/path/a/b/f", &st);
}
BENCHMARK(BM_PathStat);

}  // namespace

BENCHMARK_MAIN();
