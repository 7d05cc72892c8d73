// Many threads on one volume: lookups, references and releases stay exact.
#include <atomic>
#include <thread>
#include <vector>

#include "KernelTest.h"

using kerneltest::ExpectBalanced;
using kerneltest::MemVolume;

namespace {

constexpr int kThreads = 8;
constexpr int kFiles = 6;
constexpr int kRounds = 300;

std::string Name(int i) { return "f" + std::to_string(i); }

}  // namespace

TEST(Concurrency, LookupsAndPutsFromManyThreadsLeaveExactCounts) {
    kernel_set_unused_vnode_limit(2);  // constant eviction and re-reading
    MemVolume vol("/conc/lookups");
    ASSERT_EQ(B_OK, sys_mkdir(vol.Path("d").c_str(), 0755));
    for (int i = 0; i < kFiles; i++) vol.MakeFile("d/" + Name(i), "x");
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++) {
        threads.emplace_back([&, t] {
            for (int r = 0; r < kRounds; r++) {
                const std::string name = Name((t + r) % kFiles);
                vnode_id d = 0, f = 0;
                if (vfs_lookup(vol.nsid(), vol.root(), "d", &d) != B_OK) failures++;
                if (vfs_lookup(vol.nsid(), d, name.c_str(), &f) != B_OK) failures++;
                be_stat st{};
                if (vfs_stat(vol.nsid(), f, &st) != B_OK || st.st_size != 1) failures++;
                if (r % 3 == 0) {
                    // A reference taken and given back from inside the add-on.
                    if (memfs::GetFromAddOn(vol.nsid(), f) != B_OK) failures++;
                    if (memfs::PutFromAddOn(vol.nsid(), f) != B_OK) failures++;
                }
                if (sys_stat(vol.Path("d/../d/" + name).c_str(), &st) != B_OK) failures++;
                if (vfs_put(vol.nsid(), f) != B_OK) failures++;
                if (vfs_put(vol.nsid(), d) != B_OK) failures++;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(0, failures.load());

    EXPECT_EQ(1, kernel_vnode_refcount(vol.nsid(), vol.root()));
    for (int i = 0; i < kFiles; i++) {
        EXPECT_LE(kernel_vnode_refcount(vol.nsid(), vol.Id("d/" + Name(i))), 0);
    }
    EXPECT_LE(kernel_cached_vnodes(vol.nsid()), 1 + 2);
    ASSERT_EQ(B_OK, vol.Unmount());
    memfs::Report report = vol.Report();
    ExpectBalanced(report);
    int loads = 0;
    for (const auto& [id, counts] : report.nodes) loads += counts.loads;
    EXPECT_GT(loads, kFiles + 2) << "eviction happened";
}

TEST(Concurrency, CreateWriteUnlinkRacingWithLookups) {
    kernel_set_unused_vnode_limit(0);
    MemVolume vol("/conc/churn");
    std::atomic<int> failures{0};
    std::atomic<bool> done{false};
    std::vector<std::thread> writers, readers;
    for (int t = 0; t < 4; t++) {
        writers.emplace_back([&, t] {
            const std::string path = vol.Path("w" + std::to_string(t));
            for (int r = 0; r < 100; r++) {
                int fd = sys_open(path.c_str(), B_O_RDWR | B_O_CREAT | B_O_EXCL, 0644);
                if (fd < 0) {
                    failures++;
                    continue;
                }
                if (sys_write(fd, 0, "abc", 3) != 3) failures++;
                // Unlinked while open: reads keep working until the close.
                if (sys_unlink(path.c_str()) != B_OK) failures++;
                char buf[3];
                if (sys_read(fd, 0, buf, 3) != 3) failures++;
                if (sys_close(fd) != B_OK) failures++;
            }
        });
    }
    for (int t = 0; t < 4; t++) {
        readers.emplace_back([&, t] {
            while (!done.load()) {
                vnode_id f = 0;
                if (vfs_lookup(vol.nsid(), vol.root(), ("w" + std::to_string(t)).c_str(), &f) ==
                    B_OK) {
                    be_stat st{};
                    vfs_stat(vol.nsid(), f, &st);
                    if (vfs_put(vol.nsid(), f) != B_OK) failures++;
                }
            }
        });
    }
    for (auto& thread : writers) thread.join();
    done = true;
    for (auto& thread : readers) thread.join();
    EXPECT_EQ(0, failures.load());
    EXPECT_EQ(1, kernel_cached_vnodes(vol.nsid()));
    ASSERT_EQ(B_OK, vol.Unmount());
    memfs::Report report = vol.Report();
    ExpectBalanced(report);
    int removes = 0;
    for (const auto& [id, counts] : report.nodes) removes += counts.removes;
    EXPECT_EQ(400, removes) << "every unlinked file was removed exactly once";
}
