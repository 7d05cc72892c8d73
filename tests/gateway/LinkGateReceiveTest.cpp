// linkgate's RunClient when its thread can receive no more thread messages. On this platform
// receive_data fails only for a thread it holds no record of (its thread table full), which a
// thread the host spawned never is; so this test binary puts its own receive_data in front of
// the platform's (the loader binds linkgate.so's calls to the executable's definition first),
// failing on the one thread the test names and passing every other call on.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>

#include "platform/HostProtocol.h"
#include "platform/OS.h"

namespace {

std::atomic<thread_id> failingThread{B_BAD_THREAD_ID};
std::atomic<int> failedCalls{0};

typedef int32 (*ReceiveFunc)(thread_id*, void*, size_t);

ReceiveFunc PlatformReceive() {
    static ReceiveFunc real = reinterpret_cast<ReceiveFunc>(dlsym(RTLD_NEXT, "receive_data"));
    return real;
}

}  // namespace

extern "C" int32 receive_data(thread_id* sender, void* buffer, size_t buffer_size) {
    if (find_thread(nullptr) == failingThread.load()) {
        failedCalls.fetch_add(1);
        snooze(1000);  // a spinning caller shows as many calls, not as a machine brought down
        return B_NO_MORE_THREADS;
    }
    return PlatformReceive()(sender, buffer, buffer_size);
}

namespace {

typedef int32 (*RunClientFunc)(int32);

struct ClientRun {
    RunClientFunc runClient;
    std::atomic<bool> returned{false};
};

status_t RunClientThread(void* data) {
    auto* run = static_cast<ClientRun*>(data);
    run->runClient(3);
    run->returned.store(true);
    return B_OK;
}

TEST(LinkGateReceive, RunClientEndsWhenReceiveDataFails) {
    ASSERT_NE(PlatformReceive(), nullptr);
    void* image = dlopen(TAVRO_CLIENT_ADDON_DIR "/linkgate.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(image, nullptr) << dlerror();
    ClientRun run;
    run.runClient = reinterpret_cast<RunClientFunc>(dlsym(image, "RunClient"));
    ASSERT_NE(run.runClient, nullptr);

    thread_id thread = spawn_thread(RunClientThread, "linkgate client", B_NORMAL_PRIORITY, &run);
    ASSERT_GT(thread, 0);
    failingThread.store(thread);
    ASSERT_EQ(resume_thread(thread), B_OK);
    for (int i = 0; i < 2000 && !run.returned.load(); i++) snooze(10000);
    EXPECT_TRUE(run.returned.load()) << "RunClient is still running after " << failedCalls.load()
                                     << " failed receive_data calls";
    // One failure is enough: it gives up at once instead of asking again.
    EXPECT_EQ(failedCalls.load(), 1);
    if (!run.returned.load()) {
        // Let it block in the platform's receive_data, then end it the host's way.
        failingThread.store(B_BAD_THREAD_ID);
        snooze(100000);
        (void)send_data(thread, HOST_LINK_DOWN, nullptr, 0);
    }
    status_t status;
    EXPECT_EQ(wait_for_thread(thread, &status), B_OK);
    // The looper it made lives until the process ends, so the image stays loaded.
}

}  // namespace
