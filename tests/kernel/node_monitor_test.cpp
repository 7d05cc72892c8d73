// The node monitor: every watcher sees every event, in the order it was reported.
#include <mutex>
#include <thread>
#include <vector>

#include "KernelTest.h"

using kerneltest::MemVolume;

namespace {

struct Recorder {
    std::mutex lock;
    std::vector<node_monitor_event> events;

    static void Record(void* context, const node_monitor_event* event) {
        auto* self = static_cast<Recorder*>(context);
        std::lock_guard<std::mutex> guard(self->lock);
        self->events.push_back(*event);
    }
    std::vector<node_monitor_event> Take() {
        std::lock_guard<std::mutex> guard(lock);
        return events;
    }
};

}  // namespace

TEST(NodeMonitor, ChangesArriveInOrderWithTheirIds) {
    MemVolume vol("/monitor/order");
    Recorder recorder;
    int32 watch = kernel_watch_nodes(Recorder::Record, &recorder);
    ASSERT_GT(watch, 0);

    vol.MakeFile("f", "x");  // created, then written
    ASSERT_EQ(B_OK, sys_mkdir(vol.Path("d").c_str(), 0755));
    ASSERT_EQ(B_OK, sys_rename(vol.Path("f").c_str(), vol.Path("d/g").c_str()));
    ASSERT_EQ(1, sys_write_attr(vol.Path("d/g").c_str(), "a", B_RAW_TYPE, 0, "1", 1));
    const vnode_id f = vol.Id("d/g"), d = vol.Id("d");
    ASSERT_EQ(B_OK, sys_unlink(vol.Path("d/g").c_str()));
    kernel_sync_node_monitor();
    kernel_unwatch_nodes(watch);

    std::vector<node_monitor_event> events = recorder.Take();
    ASSERT_EQ(6u, events.size());
    const int32 ops[] = {B_ENTRY_CREATED, B_STAT_CHANGED, B_ENTRY_CREATED,
                         B_ENTRY_MOVED,   B_ATTR_CHANGED, B_ENTRY_REMOVED};
    for (size_t i = 0; i < events.size(); i++) {
        EXPECT_EQ(ops[i], events[i].op) << i;
        EXPECT_EQ(vol.nsid(), events[i].nsid) << i;
    }
    EXPECT_STREQ("f", events[0].name);
    EXPECT_EQ(vol.root(), events[0].vnida);
    EXPECT_EQ(f, events[0].vnidc);
    EXPECT_EQ(vol.root(), events[3].vnida);
    EXPECT_EQ(d, events[3].vnidb);
    EXPECT_STREQ("g", events[3].name);
    EXPECT_STREQ("a", events[4].name);
    EXPECT_EQ(f, events[5].vnidc);

    // Unwatched: nothing more arrives.
    vol.MakeFile("h");
    kernel_sync_node_monitor();
    EXPECT_EQ(6u, recorder.Take().size());
}

TEST(NodeMonitor, WatchersAgreeOnOneOrderAcrossThreads) {
    MemVolume vol("/monitor/threads");
    Recorder first, second;
    int32 a = kernel_watch_nodes(Recorder::Record, &first);
    int32 b = kernel_watch_nodes(Recorder::Record, &second);
    constexpr int kThreads = 4, kWrites = 50;
    for (int t = 0; t < kThreads; t++) vol.MakeFile("f" + std::to_string(t));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++) {
        threads.emplace_back([&, t] {
            int fd = sys_open(vol.Path("f" + std::to_string(t)).c_str(), B_O_WRONLY, 0);
            for (int i = 0; i < kWrites; i++) sys_write(fd, i, "x", 1);
            sys_close(fd);
        });
    }
    for (auto& thread : threads) thread.join();
    kernel_sync_node_monitor();
    kernel_unwatch_nodes(a);
    kernel_unwatch_nodes(b);

    std::vector<node_monitor_event> one = first.Take(), two = second.Take();
    ASSERT_EQ(static_cast<size_t>(kThreads + kThreads * kWrites), one.size());  // created, writes
    ASSERT_EQ(one.size(), two.size());
    for (size_t i = 0; i < one.size(); i++) {
        EXPECT_EQ(one[i].op, two[i].op) << i;
        EXPECT_EQ(one[i].vnidc, two[i].vnidc) << i;
    }
}

TEST(NodeMonitor, AWatcherMayCallIntoTheKernelAndUnwatchItself) {
    MemVolume vol("/monitor/reentry");
    struct State {
        std::string path;
        int32 watch = 0;
        status_t statStatus = B_ERROR;
        int calls = 0;
    } state{vol.Path("f"), 0};
    state.watch = kernel_watch_nodes(
        [](void* context, const node_monitor_event*) {
            auto* s = static_cast<State*>(context);
            be_stat st{};
            s->statStatus = sys_stat(s->path.c_str(), &st);
            s->calls++;
            kernel_unwatch_nodes(s->watch);
        },
        &state);
    vol.MakeFile("f", "abc");
    kernel_sync_node_monitor();
    EXPECT_EQ(1, state.calls);
    EXPECT_EQ(B_OK, state.statStatus);
}
