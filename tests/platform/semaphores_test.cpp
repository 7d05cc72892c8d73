#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "TestSupport.h"
#include "platform/OS.h"

using test_support::CountOf;
using test_support::Eventually;
using test_support::Join;
using test_support::Start;

namespace {

TEST(Semaphores, CountsUnitsInAndOut) {
    sem_id sem = create_sem(2, "count");
    ASSERT_GT(sem, 0);
    EXPECT_EQ(CountOf(sem), 2);
    EXPECT_EQ(acquire_sem(sem), B_OK);
    EXPECT_EQ(acquire_sem(sem), B_OK);
    EXPECT_EQ(acquire_sem_etc(sem, 1, B_TIMEOUT, 0), B_WOULD_BLOCK);
    EXPECT_EQ(release_sem_etc(sem, 3, 0), B_OK);
    EXPECT_EQ(CountOf(sem), 3);
    EXPECT_EQ(acquire_sem_etc(sem, 4, B_TIMEOUT, 0), B_WOULD_BLOCK);
    EXPECT_EQ(acquire_sem_etc(sem, 3, B_TIMEOUT, 0), B_OK);
    EXPECT_EQ(CountOf(sem), 0);
    EXPECT_EQ(delete_sem(sem), B_OK);
}

TEST(Semaphores, TimesOutAfterTheGivenTime) {
    sem_id sem = create_sem(0, "timeout");
    ASSERT_GT(sem, 0);
    bigtime_t start = system_time();
    EXPECT_EQ(acquire_sem_etc(sem, 1, B_TIMEOUT, 20000), B_TIMED_OUT);
    EXPECT_GE(system_time() - start, 20000);
    // The failed waiter left no claim behind.
    EXPECT_EQ(CountOf(sem), 0);
    EXPECT_EQ(release_sem(sem), B_OK);
    EXPECT_EQ(acquire_sem_etc(sem, 1, B_TIMEOUT, 0), B_OK);
    delete_sem(sem);
}

TEST(Semaphores, ReleaseWakesAWaiter) {
    sem_id sem = create_sem(0, "wake");
    ASSERT_GT(sem, 0);
    std::atomic<bool> acquired{false};
    thread_id waiter = Start([&]() -> status_t {
        status_t status = acquire_sem_etc(sem, 2, 0, 0);
        acquired = true;
        return status;
    });
    snooze(30000);
    EXPECT_FALSE(acquired);
    EXPECT_EQ(release_sem(sem), B_OK);
    snooze(30000);
    EXPECT_FALSE(acquired) << "one unit is not enough for a request of two";
    EXPECT_EQ(release_sem(sem), B_OK);
    EXPECT_EQ(Join(waiter), B_OK);
    EXPECT_EQ(CountOf(sem), 0);
    delete_sem(sem);
}

TEST(Semaphores, NegativeCountShowsWhatWaitersLack) {
    sem_id sem = create_sem(0, "negative");
    ASSERT_GT(sem, 0);
    thread_id waiter = Start([&]() -> status_t { return acquire_sem_etc(sem, 3, 0, 0); });
    EXPECT_TRUE(Eventually([&] { return CountOf(sem) == -3; }));
    EXPECT_EQ(release_sem_etc(sem, 3, 0), B_OK);
    EXPECT_EQ(Join(waiter), B_OK);
    delete_sem(sem);
}

TEST(Semaphores, DeleteWakesWaitersWithBadSemId) {
    sem_id sem = create_sem(0, "victim");
    ASSERT_GT(sem, 0);
    std::atomic<int> started{0};
    std::vector<thread_id> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.push_back(Start([&]() -> status_t {
            ++started;
            return acquire_sem(sem);
        }));
    }
    waiters.push_back(Start([&]() -> status_t {
        ++started;
        return acquire_sem_etc(sem, 1, B_TIMEOUT, 30000000);
    }));
    ASSERT_TRUE(Eventually([&] { return started == 4; }));
    int32 count = 0;
    EXPECT_TRUE(Eventually([&] { return CountOf(sem) == -4; }));
    EXPECT_EQ(delete_sem(sem), B_OK);
    for (thread_id waiter : waiters) EXPECT_EQ(Join(waiter), B_BAD_SEM_ID);

    EXPECT_EQ(acquire_sem(sem), B_BAD_SEM_ID);
    EXPECT_EQ(release_sem(sem), B_BAD_SEM_ID);
    EXPECT_EQ(get_sem_count(sem, &count), B_BAD_SEM_ID);
    EXPECT_EQ(delete_sem(sem), B_BAD_SEM_ID);
    sem_id next = create_sem(0, "victim");
    EXPECT_NE(next, sem);
    delete_sem(next);
}

TEST(Semaphores, RejectsBadArguments) {
    EXPECT_EQ(create_sem(-1, "negative"), B_BAD_VALUE);
    sem_id sem = create_sem(1, "arguments");
    ASSERT_GT(sem, 0);
    EXPECT_EQ(acquire_sem_etc(sem, 0, 0, 0), B_BAD_VALUE);
    EXPECT_EQ(release_sem_etc(sem, 0, 0), B_BAD_VALUE);
    EXPECT_EQ(release_sem_etc(sem, INT32_MAX, 0), B_BAD_VALUE);  // would overflow
    EXPECT_EQ(get_sem_count(sem, nullptr), B_BAD_VALUE);
    EXPECT_EQ(acquire_sem(12345678), B_BAD_SEM_ID);
    EXPECT_EQ(CountOf(sem), 1);
    delete_sem(sem);
}

// As a lock: many threads increment a plain counter under the semaphore.
TEST(Semaphores, MutualExclusionUnderContention) {
    sem_id sem = create_sem(1, "mutex");
    ASSERT_GT(sem, 0);
    int counter = 0;
    std::vector<thread_id> threads;
    for (int t = 0; t < 4; ++t) {
        threads.push_back(Start([&]() -> status_t {
            for (int i = 0; i < 1000; ++i) {
                status_t status = acquire_sem(sem);
                if (status != B_OK) return status;
                ++counter;
                release_sem(sem);
            }
            return B_OK;
        }));
    }
    for (thread_id thread : threads) EXPECT_EQ(Join(thread), B_OK);
    EXPECT_EQ(counter, 4000);
    delete_sem(sem);
}

// A large request queued first is served before later small ones, so it cannot starve.
TEST(Semaphores, WaitersAreServedInArrivalOrder) {
    sem_id sem = create_sem(0, "fifo");
    ASSERT_GT(sem, 0);
    std::atomic<bool> small_done{false};
    thread_id big = Start([&]() -> status_t { return acquire_sem_etc(sem, 2, 0, 0); });
    ASSERT_TRUE(Eventually([&] { return CountOf(sem) == -2; }));
    thread_id small = Start([&]() -> status_t {
        status_t status = acquire_sem(sem);
        small_done = true;
        return status;
    });
    ASSERT_TRUE(Eventually([&] { return CountOf(sem) == -3; }));
    EXPECT_EQ(release_sem(sem), B_OK);
    snooze(30000);
    EXPECT_FALSE(small_done) << "the later single request overtook the queued one";
    EXPECT_EQ(CountOf(sem), -2);
    EXPECT_EQ(release_sem_etc(sem, 2, 0), B_OK);
    EXPECT_EQ(Join(big), B_OK);
    EXPECT_EQ(Join(small), B_OK);
    EXPECT_EQ(CountOf(sem), 0);
    delete_sem(sem);
}

}  // namespace
