// What a mount remembers to spare the link: read-ahead by link speed, when a file's pages and a
// listing may be kept, and descriptors that linger for the next open.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "LingeringFiles.h"
#include "LinkCache.h"

namespace {

using fusebridge::Clock;
using fusebridge::LingeringFiles;
using fusebridge::LinkCache;
using namespace std::chrono_literals;

TEST(Readahead, FollowsTheLinkInWholePages) {
    EXPECT_EQ(fusebridge::readahead_for(1920), 0u);      // 19,200 baud: only the page read
    EXPECT_EQ(fusebridge::readahead_for(11520), 8192u);  // 115,200 baud: two pages more
    EXPECT_EQ(fusebridge::readahead_for(4096), 4096u);
    EXPECT_EQ(fusebridge::readahead_for(100000000), 131072u);
    EXPECT_EQ(fusebridge::readahead_for(0), 131072u);  // no limit: the kernel's own
}

TEST(LinkCache, PagesStayWhileSizeAndTimeStayAndNoChangeWentThrough) {
    LinkCache cache(2.0);
    EXPECT_FALSE(cache.keep_pages(10, 500, 1000)) << "nothing was read yet";
    EXPECT_TRUE(cache.keep_pages(10, 500, 1000));
    EXPECT_FALSE(cache.known_other(10, 500, 1000));
    EXPECT_TRUE(cache.known_other(10, 501, 1000));
    EXPECT_TRUE(cache.known_other(10, 500, 1002));
    EXPECT_FALSE(cache.keep_pages(10, 500, 1002)) << "another time on the device";
    EXPECT_TRUE(cache.keep_pages(10, 500, 1002));
    cache.file_changed(10);
    EXPECT_FALSE(cache.known_other(10, 1, 1));
    EXPECT_FALSE(cache.keep_pages(10, 500, 1002)) << "written through the mount";
    EXPECT_FALSE(cache.keep_pages(11, 500, 1002)) << "another file";
    cache.forget(10);
    EXPECT_FALSE(cache.keep_pages(10, 500, 1002));
    EXPECT_EQ(cache.max_status_age(), 2000000);
}

TEST(LinkCache, AListingIsKeptForTheCacheTimeUnlessTheDirectoryChanged) {
    LinkCache cache(2.0);
    Clock::time_point t0 = Clock::now();
    EXPECT_FALSE(cache.listing_fresh(5, t0));
    cache.listed(5, t0);
    EXPECT_TRUE(cache.listing_fresh(5, t0 + 1900ms));
    EXPECT_FALSE(cache.listing_fresh(5, t0 + 2100ms));
    EXPECT_FALSE(cache.listing_fresh(6, t0));
    cache.directory_changed(5);
    EXPECT_FALSE(cache.listing_fresh(5, t0 + 1s));
    LinkCache none(0);
    none.listed(5, t0);
    EXPECT_FALSE(none.listing_fresh(5, t0));
}

class Lingering : public testing::Test {
protected:
    std::function<void(int)> Recorder() {
        return [this](int fd) {
            std::lock_guard<std::mutex> guard(lock_);
            closed_.push_back(fd);
        };
    }
    std::vector<int> Closed() {
        std::lock_guard<std::mutex> guard(lock_);
        std::vector<int> sorted = closed_;
        std::sort(sorted.begin(), sorted.end());
        return sorted;
    }
    std::mutex lock_;
    std::vector<int> closed_;
};

TEST_F(Lingering, AKeptDescriptorServesTheNextOpenOfTheSameFileAndMode) {
    LingeringFiles files(1h, Recorder());
    files.keep(100, 0x0801, 7);
    EXPECT_EQ(files.take(100, 0), -1) << "another mode";
    EXPECT_EQ(files.take(101, 0x0801), -1) << "another file";
    EXPECT_EQ(files.take(100, 0x0801), 7);
    EXPECT_EQ(files.take(100, 0x0801), -1) << "taken once";
    EXPECT_TRUE(Closed().empty());
}

TEST_F(Lingering, ClosingAFileOrAllClosesWhatIsKept) {
    {
        LingeringFiles files(1h, Recorder());
        files.keep(100, 0, 7);
        files.keep(100, 1, 8);
        files.keep(200, 0, 9);
        files.keep(300, 0, 10);
        files.close_node(100);
        EXPECT_EQ(Closed(), (std::vector<int>{7, 8}));
        files.close_all();
        EXPECT_EQ(Closed(), (std::vector<int>{7, 8, 9, 10}));
        files.keep(400, 0, 11);
    }
    EXPECT_EQ(Closed(), (std::vector<int>{7, 8, 9, 10, 11})) << "closed when the cache goes";
}

TEST_F(Lingering, OnlyAFewAreKeptAndTheOldestMakesRoom) {
    LingeringFiles files(1h, Recorder(), 2);
    files.keep(100, 0, 7);
    files.keep(200, 0, 8);
    files.keep(300, 0, 9);
    EXPECT_EQ(Closed(), (std::vector<int>{7}));
    EXPECT_EQ(files.size(), 2u);
    EXPECT_EQ(files.take(200, 0), 8);
    EXPECT_EQ(files.take(300, 0), 9);
}

TEST_F(Lingering, ADescriptorIsClosedWhenItsTimeIsUp) {
    LingeringFiles files(50ms, Recorder());
    files.keep(100, 0, 7);
    auto end = Clock::now() + 10s;
    while (Closed().empty() && Clock::now() < end) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(Closed(), (std::vector<int>{7}));
    EXPECT_EQ(files.take(100, 0), -1);
    EXPECT_EQ(files.size(), 0u);
}

TEST_F(Lingering, NoLingerClosesAtOnce) {
    LingeringFiles files(Clock::duration::zero(), Recorder());
    files.keep(100, 0, 7);
    EXPECT_EQ(Closed(), (std::vector<int>{7}));
    EXPECT_EQ(files.take(100, 0), -1);
}

}  // namespace
