#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "platform/OS.h"

using test_support::Eventually;
using test_support::Join;
using test_support::Start;

namespace {

struct Unwound {
    std::atomic<bool>* flag;
    ~Unwound() { *flag = true; }
};

std::atomic<bool> g_unwound{false};
std::atomic<bool> g_after_exit{false};

status_t ExitsEarly(void* data) {
    Unwound guard{&g_unwound};
    exit_thread(*static_cast<status_t*>(data));
    g_after_exit = true;  // never reached
    return B_ERROR;
}

TEST(Threads, ExitThreadEndsTheThreadAndReportsItsStatus) {
    status_t wanted = 0x1234;
    thread_id thread = spawn_thread(ExitsEarly, "exiter", B_NORMAL_PRIORITY, &wanted);
    ASSERT_GT(thread, 0);
    ASSERT_EQ(resume_thread(thread), B_OK);
    status_t exit_value = 0;
    EXPECT_EQ(wait_for_thread(thread, &exit_value), B_OK);
    EXPECT_EQ(exit_value, 0x1234);
    EXPECT_TRUE(g_unwound) << "the stack was not unwound";
    EXPECT_FALSE(g_after_exit) << "exit_thread returned";
    // Once collected, the id is gone.
    EXPECT_EQ(wait_for_thread(thread, &exit_value), B_BAD_THREAD_ID);
    EXPECT_EQ(resume_thread(thread), B_BAD_THREAD_ID);
}

TEST(Threads, ReturnValueIsTheExitStatus) {
    thread_id thread = Start([]() -> status_t { return B_DEVICE_FULL; });
    ASSERT_GT(thread, 0);
    EXPECT_EQ(Join(thread), B_DEVICE_FULL);
}

TEST(Threads, EveryWaiterGetsTheStatus) {
    std::atomic<bool> quit{false};
    std::atomic<int> waiting{0};
    thread_id worker = Start([&]() -> status_t {
        while (!quit) snooze(1000);
        return 0x55;
    });
    ASSERT_GT(worker, 0);
    auto waiter = [&]() -> status_t {
        ++waiting;
        return Join(worker);
    };
    thread_id first = Start(waiter);
    thread_id second = Start(waiter);
    ASSERT_TRUE(Eventually([&] { return waiting == 2; }));
    snooze(100000);  // both reach wait_for_thread before the worker ends
    quit = true;
    EXPECT_EQ(Join(first), 0x55);
    EXPECT_EQ(Join(second), 0x55);
}

TEST(Threads, SpawnedThreadWaitsForResume) {
    std::atomic<bool> ran{false};
    thread_id thread = spawn_thread(
        [](void* data) -> status_t {
            *static_cast<std::atomic<bool>*>(data) = true;
            return B_OK;
        },
        "suspended", B_NORMAL_PRIORITY, &ran);
    ASSERT_GT(thread, 0);
    snooze(30000);
    EXPECT_FALSE(ran);
    EXPECT_EQ(resume_thread(thread), B_OK);
    EXPECT_TRUE(Eventually([&] { return ran.load(); }));
    EXPECT_EQ(Join(thread), B_OK);
}

TEST(Threads, WaitingForASuspendedThreadStartsIt) {
    thread_id thread = spawn_thread([](void*) -> status_t { return 77; }, "never resumed",
                                    B_NORMAL_PRIORITY, nullptr);
    ASSERT_GT(thread, 0);
    EXPECT_EQ(Join(thread), 77);
}

TEST(Threads, ResumeOnlyOnce) {
    thread_id thread =
        spawn_thread([](void*) -> status_t { return B_OK; }, "twice", B_NORMAL_PRIORITY, nullptr);
    ASSERT_GT(thread, 0);
    EXPECT_EQ(resume_thread(thread), B_OK);
    status_t second = resume_thread(thread);
    EXPECT_TRUE(second == B_BAD_THREAD_STATE || second == B_BAD_THREAD_ID) << second;
    EXPECT_EQ(Join(thread), B_OK);
}

TEST(Threads, BadArgumentsAndIds) {
    EXPECT_EQ(spawn_thread(nullptr, "none", B_NORMAL_PRIORITY, nullptr), B_BAD_VALUE);
    EXPECT_EQ(resume_thread(-3), B_BAD_THREAD_ID);
    EXPECT_EQ(wait_for_thread(0x7ffffff0, nullptr), B_BAD_THREAD_ID);
    EXPECT_EQ(send_data(0x7ffffff0, 1, nullptr, 0), B_BAD_THREAD_ID);
    EXPECT_FALSE(has_data(0x7ffffff0));
    EXPECT_EQ(wait_for_thread(find_thread(nullptr), nullptr), B_BAD_THREAD_ID);  // itself
}

TEST(Threads, FindThreadForSelfAndByName) {
    thread_id self = find_thread(nullptr);
    EXPECT_GT(self, 0);
    EXPECT_EQ(find_thread(nullptr), self);

    std::atomic<thread_id> seen{0};
    thread_id thread = Start(
        [&] {
            seen = find_thread(nullptr);
            return find_thread("named worker") == seen.load() ? B_OK : B_ERROR;
        },
        "named worker");
    ASSERT_GT(thread, 0);
    EXPECT_EQ(Join(thread), B_OK);
    EXPECT_EQ(seen, thread);
    EXPECT_EQ(find_thread("named worker"), B_NAME_NOT_FOUND);  // ended
    EXPECT_EQ(find_thread("no such thread"), B_NAME_NOT_FOUND);
}

// Threads started without spawn_thread (the FUSE loop, a test's std::thread) get ids too.
TEST(Threads, ForeignThreadsGetTheirOwnIdAndMessages) {
    thread_id main_id = find_thread(nullptr);
    std::atomic<thread_id> foreign_id{0};
    std::atomic<int32> code{0};
    std::atomic<thread_id> sender{0};
    std::thread foreign([&] {
        foreign_id = find_thread(nullptr);
        thread_id from = 0;
        code = receive_data(&from, nullptr, 0);
        sender = from;
    });
    ASSERT_TRUE(Eventually([&] { return foreign_id.load() > 0; }));
    EXPECT_NE(foreign_id, main_id);
    EXPECT_EQ(send_data(foreign_id, 99, nullptr, 0), B_OK);
    foreign.join();
    EXPECT_EQ(code, 99);
    EXPECT_EQ(sender, main_id);
    // Its id died with it.
    EXPECT_EQ(send_data(foreign_id, 1, nullptr, 0), B_BAD_THREAD_ID);
}

TEST(ThreadMessages, ReceiveGetsCodeDataAndSenderInOrder) {
    thread_id main_id = find_thread(nullptr);
    thread_id receiver = Start([main_id]() -> status_t {
        for (int32 i = 0; i < 20; ++i) {
            thread_id from = 0;
            char buffer[16] = {};
            int32 code = receive_data(&from, buffer, sizeof buffer);
            std::string expected = "message " + std::to_string(i);
            if (code != 1000 + i || from != main_id || expected != buffer) return B_BAD_DATA;
        }
        return B_OK;
    });
    ASSERT_GT(receiver, 0);
    for (int32 i = 0; i < 20; ++i) {
        std::string text = "message " + std::to_string(i);
        ASSERT_EQ(send_data(receiver, 1000 + i, text.c_str(), text.size() + 1), B_OK);
    }
    EXPECT_EQ(Join(receiver), B_OK);
}

TEST(ThreadMessages, SenderBlocksUntilTheQueueIsFree) {
    std::atomic<bool> go{false};
    thread_id receiver = Start([&]() -> status_t {
        while (!go) snooze(1000);
        char buffer[4];
        int32 first = receive_data(nullptr, buffer, 2);  // cut to the buffer
        if (first != 1 || std::memcmp(buffer, "ab", 2) != 0) return B_BAD_DATA;
        return receive_data(nullptr, buffer, sizeof buffer) == 2 ? B_OK : B_BAD_DATA;
    });
    ASSERT_GT(receiver, 0);
    EXPECT_FALSE(has_data(receiver));
    ASSERT_EQ(send_data(receiver, 1, "abcd", 4), B_OK);
    EXPECT_TRUE(has_data(receiver));

    std::atomic<bool> second_sent{false};
    thread_id sender = Start([&]() -> status_t {
        status_t status = send_data(receiver, 2, nullptr, 0);
        second_sent = true;
        return status;
    });
    snooze(50000);
    EXPECT_FALSE(second_sent) << "the second message did not wait for the first to be taken";
    go = true;
    EXPECT_EQ(Join(sender), B_OK);
    EXPECT_EQ(Join(receiver), B_OK);
}

TEST(ThreadMessages, BlockedSenderWakesWhenTheReceiverEnds) {
    std::atomic<bool> quit{false};
    thread_id receiver = Start([&]() -> status_t {
        while (!quit) snooze(1000);
        return B_OK;  // never receives
    });
    ASSERT_EQ(send_data(receiver, 1, nullptr, 0), B_OK);
    thread_id sender = Start([&]() -> status_t { return send_data(receiver, 2, nullptr, 0); });
    snooze(30000);
    quit = true;
    EXPECT_EQ(Join(receiver), B_OK);
    EXPECT_EQ(Join(sender), B_BAD_THREAD_ID);
}

}  // namespace
