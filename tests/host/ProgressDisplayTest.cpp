// The progress of long transfers: plain lines into a pipe, one line redrawn in place on a
// pseudo-terminal. The display is driven with made-up times, so no test waits.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "host/ProgressDisplay.h"

namespace {

using vantrel::ProgressDisplay;
using namespace std::chrono_literals;

// Everything written to the descriptor's other end so far.
std::string Drain(int fd) {
    std::string out;
    char buffer[4096];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        out.append(buffer, static_cast<size_t>(n));
    }
    return out;
}

TEST(ProgressDisplay, FormatsBytesSpeedAndTimeLeft) {
    EXPECT_EQ(ProgressDisplay::Format("M/STORY.TXT", 5000, 20480, false, 2.5),
              "M/STORY.TXT  5,000 of 20,480 bytes read  2,000 B/s  8 s left");
    EXPECT_EQ(ProgressDisplay::Format("M/BIG.BIN", 1920, 1048576, false, 1.0),
              "M/BIG.BIN  1,920 of 1,048,576 bytes read  1,920 B/s  9 min 5 s left");
    // A file being written has no size to go by.
    EXPECT_EQ(ProgressDisplay::Format("M/NEW.BIN", 4000, 0, true, 2.0),
              "M/NEW.BIN  4,000 bytes written  2,000 B/s");
    EXPECT_EQ(ProgressDisplay::Format("M/X", 0, 100, false, 0), "M/X  0 of 100 bytes read  0 B/s");
}

class PlainLines : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(pipe2(fds_, O_NONBLOCK), 0);
        ProgressDisplay::Settings settings = ProgressDisplay::ForDescriptor(fds_[1]);
        EXPECT_FALSE(settings.terminal);
        display_ = std::make_unique<ProgressDisplay>(settings);
    }
    void TearDown() override {
        display_.reset();
        close(fds_[0]);
        close(fds_[1]);
    }
    int fds_[2] = {-1, -1};
    std::unique_ptr<ProgressDisplay> display_;
    ProgressDisplay::Clock::time_point t0 = ProgressDisplay::Clock::now();
};

TEST_F(PlainLines, ALongTransferGetsALineNowAndThenAndOneAtItsEnd) {
    display_->Started(7, "M/STORY.TXT", 20480, false, t0);
    display_->Moved(7, 1000);
    display_->Tick(t0 + 1s);
    EXPECT_EQ(Drain(fds_[0]), "") << "shown before two seconds";
    display_->Moved(7, 5000);
    display_->Tick(t0 + 2500ms);
    EXPECT_EQ(Drain(fds_[0]), "M/STORY.TXT  5,000 of 20,480 bytes read  2,000 B/s  8 s left\n");
    display_->Tick(t0 + 3s);
    EXPECT_EQ(Drain(fds_[0]), "") << "a line every few seconds, not every tick";
    display_->Moved(7, 15000);
    display_->Tick(t0 + 7500ms);
    EXPECT_EQ(Drain(fds_[0]), "M/STORY.TXT  15,000 of 20,480 bytes read  2,000 B/s  3 s left\n");
    display_->Moved(7, 20480);
    display_->Ended(7, t0 + 10240ms);
    EXPECT_EQ(Drain(fds_[0]),
              "M/STORY.TXT  20,480 of 20,480 bytes read  2,000 B/s  0 s left  done\n");
    display_->Tick(t0 + 20s);
    EXPECT_EQ(Drain(fds_[0]), "");
}

TEST_F(PlainLines, AShortTransferShowsNothing) {
    display_->Started(3, "M/NOTES.TXT", 52, false, t0);
    display_->Moved(3, 52);
    display_->Tick(t0 + 500ms);
    display_->Ended(3, t0 + 600ms);
    display_->Tick(t0 + 5s);
    EXPECT_EQ(Drain(fds_[0]), "");
}

TEST_F(PlainLines, SeveralTransfersEachGetTheirLine) {
    display_->Started(1, "M/A.BIN", 10000, false, t0);
    display_->Started(2, "M/B.BIN", 0, true, t0 + 1s);
    display_->Moved(1, 6000);
    display_->Moved(2, 4000);
    display_->Tick(t0 + 3s);
    EXPECT_EQ(Drain(fds_[0]),
              "M/A.BIN  6,000 of 10,000 bytes read  2,000 B/s  2 s left\n"
              "M/B.BIN  4,000 bytes written  2,000 B/s\n");
}

class InPlace : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0);
        // Bytes as written: no newline translation on the way.
        termios raw{};
        ASSERT_EQ(tcgetattr(slave_, &raw), 0);
        cfmakeraw(&raw);
        ASSERT_EQ(tcsetattr(slave_, TCSANOW, &raw), 0);
        ASSERT_EQ(fcntl(master_, F_SETFL, O_NONBLOCK), 0);
        ProgressDisplay::Settings settings = ProgressDisplay::ForDescriptor(slave_);
        EXPECT_TRUE(settings.terminal);
        display_ = std::make_unique<ProgressDisplay>(settings);
    }
    void TearDown() override {
        display_.reset();
        close(slave_);
        close(master_);
    }
    int master_ = -1, slave_ = -1;
    std::unique_ptr<ProgressDisplay> display_;
    ProgressDisplay::Clock::time_point t0 = ProgressDisplay::Clock::now();
};

TEST_F(InPlace, OneLineIsRedrawnAndEndsWithTheTransfer) {
    display_->Started(9, "M/BIG.BIN", 8000, false, t0);
    display_->Tick(t0 + 1s);
    EXPECT_EQ(Drain(master_), "");
    display_->Moved(9, 2000);
    display_->Tick(t0 + 2s);
    display_->Moved(9, 2500);
    display_->Tick(t0 + 2250ms);
    EXPECT_EQ(Drain(master_),
              "\rM/BIG.BIN  2,000 of 8,000 bytes read  1,000 B/s  6 s left\033[K"
              "\rM/BIG.BIN  2,500 of 8,000 bytes read  1,111 B/s  5 s left\033[K");
    display_->Moved(9, 8000);
    display_->Ended(9, t0 + 4s);
    EXPECT_EQ(Drain(master_),
              "\rM/BIG.BIN  8,000 of 8,000 bytes read  2,000 B/s  0 s left  done\033[K\n");
}

TEST_F(InPlace, TheOldestTransferHasTheLineAndTheOthersAreCounted) {
    display_->Started(1, "M/OLD.BIN", 100, false, t0);
    display_->Started(2, "M/NEW.BIN", 100, false, t0 + 500ms);
    display_->Started(3, "M/FRESH.BIN", 100, false, t0 + 2900ms);
    display_->Tick(t0 + 3s);
    EXPECT_EQ(Drain(master_), "\rM/OLD.BIN  0 of 100 bytes read  0 B/s  (+1 more)\033[K");
}

TEST(ProgressThread, RunsAndStops) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
    {
        ProgressDisplay::Settings settings = ProgressDisplay::ForDescriptor(fds[1]);
        settings.delay = 0s;
        ProgressDisplay display(settings);
        display.StartThread();
        display.Started(1, "M/A", 10, false);
        display.Moved(1, 5);
        // The thread ticks every half second; wait for its line, bounded.
        std::string seen;
        for (int i = 0; i < 100 && seen.empty(); i++) {
            usleep(50000);
            seen = Drain(fds[0]);
        }
        EXPECT_NE(seen.find("M/A  5 of 10 bytes read"), std::string::npos) << seen;
    }
    close(fds[0]);
    close(fds[1]);
}

}  // namespace
