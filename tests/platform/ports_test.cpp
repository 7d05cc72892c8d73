#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <set>
#include <vector>

#include "TestSupport.h"
#include "platform/OS.h"

using test_support::Eventually;
using test_support::Join;
using test_support::PortMessage;
using test_support::ReadMessage;
using test_support::Start;

namespace {

TEST(Ports, MessagesComeOutInOrderWithCodeAndData) {
    port_id port = create_port(4, "order");
    ASSERT_GT(port, 0);
    ASSERT_EQ(write_port(port, 1, "one", 3), B_OK);
    ASSERT_EQ(write_port(port, 2, "", 0), B_OK);
    ASSERT_EQ(write_port(port, 3, "three", 5), B_OK);
    EXPECT_EQ(port_count(port), 3);
    EXPECT_EQ(port_buffer_size(port), 3);

    EXPECT_EQ(ReadMessage(port), (PortMessage{1, "one"}));
    EXPECT_EQ(port_buffer_size(port), 0);
    EXPECT_EQ(ReadMessage(port), (PortMessage{2, ""}));
    EXPECT_EQ(ReadMessage(port), (PortMessage{3, "three"}));
    EXPECT_EQ(port_count(port), 0);
    EXPECT_EQ(delete_port(port), B_OK);
}

TEST(Ports, LongMessageIsCutToTheBufferAndConsumedWhole) {
    port_id port = create_port(4, "cut");
    ASSERT_GT(port, 0);
    ASSERT_EQ(write_port(port, 7, "0123456789", 10), B_OK);
    ASSERT_EQ(write_port(port, 8, "next", 4), B_OK);

    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    int32 code = 0;
    EXPECT_EQ(read_port(port, &code, buffer, 4), 4);
    EXPECT_EQ(code, 7);
    EXPECT_EQ(std::memcmp(buffer, "0123xxxx", 8), 0);  // nothing written past the buffer
    // The rest of the long message is gone: the next read gets the next message.
    EXPECT_EQ(port_count(port), 1);
    EXPECT_EQ(ReadMessage(port), (PortMessage{8, "next"}));
    // A zero-sized read takes a message too.
    ASSERT_EQ(write_port(port, 9, "abc", 3), B_OK);
    EXPECT_EQ(read_port(port, &code, nullptr, 0), 0);
    EXPECT_EQ(code, 9);
    EXPECT_EQ(port_count(port), 0);
    delete_port(port);
}

TEST(Ports, TimeOutsWithoutWaitingAndAfterWaiting) {
    port_id port = create_port(1, "timeouts");
    ASSERT_GT(port, 0);
    char buffer[4];
    int32 code;

    // Empty port.
    EXPECT_EQ(read_port_etc(port, &code, buffer, sizeof buffer, B_TIMEOUT, 0), B_WOULD_BLOCK);
    EXPECT_EQ(port_buffer_size_etc(port, B_TIMEOUT, 0), B_WOULD_BLOCK);
    bigtime_t start = system_time();
    EXPECT_EQ(read_port_etc(port, &code, buffer, sizeof buffer, B_TIMEOUT, 20000), B_TIMED_OUT);
    EXPECT_GE(system_time() - start, 20000);
    start = system_time();
    EXPECT_EQ(port_buffer_size_etc(port, B_TIMEOUT, 20000), B_TIMED_OUT);
    EXPECT_GE(system_time() - start, 20000);

    // Full port.
    ASSERT_EQ(write_port(port, 1, "a", 1), B_OK);
    EXPECT_EQ(write_port_etc(port, 2, "b", 1, B_TIMEOUT, 0), B_WOULD_BLOCK);
    start = system_time();
    EXPECT_EQ(write_port_etc(port, 2, "b", 1, B_TIMEOUT, 20000), B_TIMED_OUT);
    EXPECT_GE(system_time() - start, 20000);
    // The failed writes left nothing behind.
    EXPECT_EQ(port_count(port), 1);
    EXPECT_EQ(ReadMessage(port), (PortMessage{1, "a"}));
    EXPECT_EQ(port_count(port), 0);
    delete_port(port);
}

TEST(Ports, WriterBlocksWhileFullAndWakesWhenAReaderTakesAMessage) {
    port_id port = create_port(2, "full");
    ASSERT_GT(port, 0);
    ASSERT_EQ(write_port(port, 1, "a", 1), B_OK);
    ASSERT_EQ(write_port(port, 2, "b", 1), B_OK);

    std::atomic<bool> written{false};
    thread_id writer = Start([&]() -> status_t {
        status_t status = write_port(port, 3, "c", 1);
        written = true;
        return status;
    });
    ASSERT_GT(writer, 0);
    snooze(50000);
    EXPECT_FALSE(written) << "a write to a full port must block";
    EXPECT_EQ(port_count(port), 2);

    EXPECT_EQ(ReadMessage(port), (PortMessage{1, "a"}));
    EXPECT_EQ(Join(writer), B_OK);
    EXPECT_TRUE(written);
    EXPECT_EQ(ReadMessage(port), (PortMessage{2, "b"}));
    EXPECT_EQ(ReadMessage(port), (PortMessage{3, "c"}));
    delete_port(port);
}

// A size query does not take the message, so a write must wake every kind of waiter: a
// reader waiting next to a size query must not sleep on.
TEST(Ports, ReaderAndSizeQueryWakeWhenAMessageArrives) {
    port_id port = create_port(2, "wake readers");
    ASSERT_GT(port, 0);
    std::atomic<int> started{0};
    thread_id sizer = Start([&]() -> status_t {
        ++started;
        ssize_t size = port_buffer_size_etc(port, B_TIMEOUT, 10000000);
        return size == 5 ? B_OK : static_cast<status_t>(size);
    });
    thread_id reader = Start([&]() -> status_t {
        ++started;
        int32 code = 0;
        char buffer[8];
        ssize_t size = read_port_etc(port, &code, buffer, sizeof buffer, B_TIMEOUT, 10000000);
        if (size < 0) return static_cast<status_t>(size);
        return size == 5 && code == 42 && std::memcmp(buffer, "hello", 5) == 0 ? B_OK : B_ERROR;
    });
    ASSERT_TRUE(Eventually([&] { return started == 2; }));
    snooze(30000);
    ASSERT_EQ(write_port(port, 42, "hello", 5), B_OK);
    EXPECT_EQ(Join(reader), B_OK);
    // The reader may have taken the message before the size query looked; a second one
    // answers it then.
    ASSERT_EQ(write_port(port, 43, "world", 5), B_OK);
    EXPECT_EQ(Join(sizer), B_OK);
    EXPECT_EQ(port_count(port), 1);
    delete_port(port);
}

TEST(Ports, DeleteWakesEveryBlockedThreadWithBadPortId) {
    port_id full = create_port(1, "full victim");
    port_id empty = create_port(1, "empty victim");
    ASSERT_GT(full, 0);
    ASSERT_GT(empty, 0);
    ASSERT_EQ(write_port(full, 1, "x", 1), B_OK);

    std::atomic<int> started{0};
    std::vector<thread_id> threads;
    for (int i = 0; i < 3; ++i) {
        threads.push_back(Start([&]() -> status_t {
            ++started;
            return write_port(full, 2, "y", 1);
        }));
        threads.push_back(Start([&]() -> status_t {
            ++started;
            int32 code;
            char byte;
            return static_cast<status_t>(read_port(empty, &code, &byte, 1));
        }));
        threads.push_back(Start([&]() -> status_t {
            ++started;
            return static_cast<status_t>(port_buffer_size_etc(empty, B_TIMEOUT, 30000000));
        }));
    }
    ASSERT_TRUE(Eventually([&] { return started == 9; }));
    snooze(50000);  // let them reach their waits
    EXPECT_EQ(delete_port(full), B_OK);
    EXPECT_EQ(delete_port(empty), B_OK);
    for (thread_id thread : threads) EXPECT_EQ(Join(thread), B_BAD_PORT_ID);
}

TEST(Ports, DeletedPortAnswersBadPortIdAndItsIdIsNotReused) {
    port_id port = create_port(3, "gone");
    ASSERT_GT(port, 0);
    ASSERT_EQ(write_port(port, 1, "a", 1), B_OK);
    ASSERT_EQ(delete_port(port), B_OK);

    int32 code;
    char byte;
    EXPECT_EQ(write_port(port, 1, "a", 1), B_BAD_PORT_ID);
    EXPECT_EQ(write_port_etc(port, 1, "a", 1, B_TIMEOUT, 0), B_BAD_PORT_ID);
    EXPECT_EQ(read_port(port, &code, &byte, 1), B_BAD_PORT_ID);  // the message was dropped
    EXPECT_EQ(read_port_etc(port, &code, &byte, 1, B_TIMEOUT, 1000), B_BAD_PORT_ID);
    EXPECT_EQ(port_buffer_size(port), B_BAD_PORT_ID);
    EXPECT_EQ(port_buffer_size_etc(port, B_TIMEOUT, 0), B_BAD_PORT_ID);
    EXPECT_EQ(port_count(port), B_BAD_PORT_ID);
    EXPECT_EQ(delete_port(port), B_BAD_PORT_ID);
    EXPECT_EQ(find_port("gone"), B_NAME_NOT_FOUND);

    port_id next = create_port(3, "gone");
    EXPECT_GT(next, 0);
    EXPECT_NE(next, port);
    EXPECT_EQ(write_port(port, 1, "a", 1), B_BAD_PORT_ID);
    delete_port(next);
}

TEST(Ports, FindPortByName) {
    port_id first = create_port(1, "find me");
    port_id other = create_port(1, "someone else");
    ASSERT_GT(first, 0);
    ASSERT_GT(other, 0);
    EXPECT_EQ(find_port("find me"), first);
    EXPECT_EQ(find_port("someone else"), other);
    EXPECT_EQ(find_port("find"), B_NAME_NOT_FOUND);
    EXPECT_EQ(find_port(nullptr), B_BAD_VALUE);

    // Over-long names are kept to the name length, and found by the same cut.
    std::string longName(100, 'n');
    port_id longPort = create_port(1, longName.c_str());
    ASSERT_GT(longPort, 0);
    EXPECT_EQ(find_port(longName.c_str()), longPort);
    EXPECT_EQ(find_port(longName.substr(0, B_OS_NAME_LENGTH - 1).c_str()), longPort);

    delete_port(first);
    delete_port(other);
    delete_port(longPort);
    EXPECT_EQ(find_port("find me"), B_NAME_NOT_FOUND);
}

TEST(Ports, RejectsBadArguments) {
    EXPECT_EQ(create_port(0, "zero"), B_BAD_VALUE);
    EXPECT_EQ(create_port(-1, "negative"), B_BAD_VALUE);
    EXPECT_EQ(port_count(-5), B_BAD_PORT_ID);
    EXPECT_EQ(port_count(0x7ffffff0), B_BAD_PORT_ID);
    port_id port = create_port(1, "arguments");
    ASSERT_GT(port, 0);
    EXPECT_EQ(write_port(port, 1, nullptr, 4), B_BAD_VALUE);
    EXPECT_EQ(write_port(port, 1, nullptr, 0), B_OK);  // an empty message needs no buffer
    int32 code;
    EXPECT_EQ(read_port(port, nullptr, nullptr, 0), B_BAD_VALUE);
    EXPECT_EQ(read_port(port, &code, nullptr, 4), B_BAD_VALUE);
    EXPECT_EQ(port_count(port), 1);
    delete_port(port);
}

// Writers and readers hammer one small port; every message must arrive exactly once.
TEST(Ports, ManyWritersAndReadersLoseAndDuplicateNothing) {
    constexpr int kWriters = 4;
    constexpr int kReaders = 4;
    constexpr int kPerWriter = 500;
    port_id port = create_port(3, "crowd");
    ASSERT_GT(port, 0);

    std::mutex seen_lock;
    std::vector<int32> seen;
    std::vector<thread_id> threads;
    for (int w = 0; w < kWriters; ++w) {
        threads.push_back(Start([=]() -> status_t {
            for (int i = 0; i < kPerWriter; ++i) {
                int32 value = w * kPerWriter + i;
                status_t status = write_port(port, value, &value, sizeof value);
                if (status != B_OK) return status;
            }
            return B_OK;
        }));
    }
    for (int r = 0; r < kReaders; ++r) {
        threads.push_back(Start([&]() -> status_t {
            // The port is a queue: one reader sees each writer's messages in writing order.
            std::vector<int32> last_of_writer(kWriters, -1);
            for (int i = 0; i < kWriters * kPerWriter / kReaders; ++i) {
                int32 code;
                int32 value;
                ssize_t size = read_port(port, &code, &value, sizeof value);
                if (size != sizeof value || code != value) return B_BAD_DATA;
                if (value < 0 || value >= kWriters * kPerWriter) return B_BAD_DATA;
                if (value <= last_of_writer[value / kPerWriter]) return B_MISMATCHED_VALUES;
                last_of_writer[value / kPerWriter] = value;
                std::lock_guard guard(seen_lock);
                seen.push_back(value);
            }
            return B_OK;
        }));
    }
    for (thread_id thread : threads) EXPECT_EQ(Join(thread), B_OK);

    std::sort(seen.begin(), seen.end());
    ASSERT_EQ(seen.size(), static_cast<size_t>(kWriters * kPerWriter));
    for (int32 i = 0; i < kWriters * kPerWriter; ++i) ASSERT_EQ(seen[i], i);
    EXPECT_EQ(port_count(port), 0);
    delete_port(port);
}

}  // namespace
