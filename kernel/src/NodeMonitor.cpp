#include "NodeMonitor.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "kernel/syscalls.h"

namespace kernel {

namespace {

class NodeMonitor {
public:
    int32 Watch(node_monitor_func func, void* context) {
        std::lock_guard<std::mutex> guard(lock_);
        const int32 id = nextWatch_++;
        watches_.push_back({id, func, context});
        if (!started_) {
            started_ = true;
            // Lives as long as the process, like the monitor itself.
            std::thread([this] { Dispatch(); }).detach();
        }
        return id;
    }

    void Unwatch(int32 watch) {
        std::unique_lock<std::mutex> lock(lock_);
        std::erase_if(watches_, [watch](const Watcher& w) { return w.id == watch; });
        // After this returns the watcher's context may go away: wait for a delivery to it
        // that is under way, unless the watcher unwatches from inside its own callback.
        if (std::this_thread::get_id() == dispatcher_) return;
        progress_.wait(lock, [&] { return delivering_ != watch; });
    }

    status_t Notify(const node_monitor_event& event) {
        std::lock_guard<std::mutex> guard(lock_);
        if (watches_.empty()) return B_OK;
        queue_.push_back(event);
        queued_++;
        wake_.notify_one();
        return B_OK;
    }

    void Sync() {
        std::unique_lock<std::mutex> lock(lock_);
        if (std::this_thread::get_id() == dispatcher_) return;
        const uint64_t target = queued_;
        progress_.wait(lock, [&] { return delivered_ >= target; });
    }

private:
    struct Watcher {
        int32 id;
        node_monitor_func func;
        void* context;
    };

    void Dispatch() {
        std::unique_lock<std::mutex> lock(lock_);
        dispatcher_ = std::this_thread::get_id();
        for (;;) {
            wake_.wait(lock, [&] { return !queue_.empty(); });
            node_monitor_event event = queue_.front();
            queue_.pop_front();
            std::vector<int32> targets;
            for (const Watcher& w : watches_) targets.push_back(w.id);
            for (int32 id : targets) {
                // Skip watchers that left while earlier ones were being called.
                auto it = std::find_if(watches_.begin(), watches_.end(),
                                       [id](const Watcher& w) { return w.id == id; });
                if (it == watches_.end()) continue;
                Watcher w = *it;
                delivering_ = id;
                lock.unlock();
                w.func(w.context, &event);
                lock.lock();
                delivering_ = 0;
                progress_.notify_all();
            }
            delivered_++;
            progress_.notify_all();
        }
    }

    std::mutex lock_;
    std::condition_variable wake_;      // an event was queued
    std::condition_variable progress_;  // a callback returned or an event was delivered
    std::vector<Watcher> watches_;
    std::deque<node_monitor_event> queue_;
    uint64_t queued_ = 0;
    uint64_t delivered_ = 0;
    int32 nextWatch_ = 1;
    int32 delivering_ = 0;
    bool started_ = false;
    std::thread::id dispatcher_;
};

NodeMonitor& monitor() {
    static NodeMonitor* m = new NodeMonitor;
    return *m;
}

}  // namespace

status_t NotifyNodeMonitor(int32 op, nspace_id nsid, vnode_id vnida, vnode_id vnidb, vnode_id vnidc,
                           const char* name) {
    node_monitor_event event{};
    event.op = op;
    event.nsid = nsid;
    event.vnida = vnida;
    event.vnidb = vnidb;
    event.vnidc = vnidc;
    if (name != nullptr) {
        std::strncpy(event.name, name, sizeof(event.name) - 1);
    }
    return monitor().Notify(event);
}

}  // namespace kernel

using namespace kernel;

extern "C" int32 kernel_watch_nodes(node_monitor_func func, void* context) {
    if (func == nullptr) return B_BAD_VALUE;
    return monitor().Watch(func, context);
}

extern "C" void kernel_unwatch_nodes(int32 watch) { monitor().Unwatch(watch); }

extern "C" void kernel_sync_node_monitor(void) { monitor().Sync(); }
