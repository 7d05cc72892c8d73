// What crosses the link for everyday work on a mount, counted in the packet trace: a file read
// twice, a file changed on the handheld behind the mount's back, the head of a large file,
// appends in a loop, a long listing twice.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "LinkedMount.h"
#include "platform/Series3Wire.h"
#include "shell.h"

namespace {

using fusetest::quote;
using fusetest::run;
using handheld::PacketTrace;
using namespace std::chrono_literals;

class LinkEconomy : public testing::Test {
protected:
    void Begin(linktest::MountSetup setup = {}) {
        std::string why = mount_.Start(setup);
        if (linktest::Skipped(why)) GTEST_SKIP() << why;
        ASSERT_EQ(why, "");
    }
    // With the bridge's cache time `seconds`.
    void BeginCached(double seconds) {
        linktest::MountSetup setup;
        setup.cache_seconds = seconds;
        Begin(setup);
    }
    fusetest::Result in_mount(const std::string& command) {
        return run("cd " + quote(mount_.mount()) + " && " + command, 60);
    }
    void MakeFile(const std::string& name, size_t size) {
        auto made = run("head -c " + std::to_string(size) + " /dev/urandom > " +
                        quote(mount_.drive() + "/" + name));
        ASSERT_EQ(made.status, 0) << made.output;
    }
    uint32 Count(uint16 opcode) { return mount_.trace().CountRequests(opcode); }
    std::string Counts() {
        linktest::Traffic t = linktest::traffic_of(mount_.trace());
        char text[200];
        std::snprintf(text, sizeof text,
                      "requests %u (FINFO %u FOPEN %u FREAD %u asking %llu bytes, FWRITE %u, "
                      "FSEEK %u, FCLOSE %u, FDIRREAD %u), %llu bytes on the wire",
                      t.requests, Count(FINFO), Count(FOPEN), t.reads,
                      static_cast<unsigned long long>(t.read_bytes_asked), Count(FWRITE),
                      Count(FSEEK), Count(FCLOSE), Count(FDIRREAD),
                      static_cast<unsigned long long>(t.wire_bytes));
        return text;
    }

    linktest::LinkedDrive mount_;
};

TEST_F(LinkEconomy, AnUnchangedFileIsReadFromTheDeviceOnce) {
    Begin();
    MakeFile("STORY.TXT", 20 * 1024);
    mount_.trace().Reset();
    auto first = in_mount("cmp STORY.TXT " + quote(mount_.drive() + "/STORY.TXT"));
    ASSERT_EQ(first.status, 0) << first.output;
    EXPECT_GE(Count(FREAD), 41u) << Counts();
    EXPECT_EQ(Count(FOPEN), 1u) << Counts();
    std::printf("first cat of 20 KiB: %s\n", Counts().c_str());

    mount_.trace().Reset();
    auto second = in_mount("cmp STORY.TXT " + quote(mount_.drive() + "/STORY.TXT"));
    ASSERT_EQ(second.status, 0) << second.output;
    std::printf("second cat: %s\n", Counts().c_str());
    EXPECT_EQ(Count(FREAD), 0u) << Counts();
    // At most the one status request that tells the copy is still good.
    EXPECT_LE(linktest::traffic_of(mount_.trace()).requests, 1u) << Counts();
}

TEST_F(LinkEconomy, AFileChangedOnTheHandheldIsReadAgainAfterTheCacheTime) {
    BeginCached(0.3);
    std::ofstream(mount_.drive() + "/NOTE.TXT") << "the first words";
    EXPECT_EQ(in_mount("cat NOTE.TXT").output, "the first words");
    EXPECT_EQ(in_mount("cat NOTE.TXT").output, "the first words");

    // Edited on the handheld: other bytes, another size.
    std::ofstream(mount_.drive() + "/NOTE.TXT") << "words written on the handheld";
    // What is checked here is that the cache time bounds how long the old copy is used.
    std::this_thread::sleep_for(700ms);
    mount_.trace().Reset();
    EXPECT_EQ(in_mount("cat NOTE.TXT").output, "words written on the handheld");
    EXPECT_EQ(Count(FINFO), 1u) << Counts();
    EXPECT_EQ(in_mount("stat -c %s NOTE.TXT").output, "29\n");

    // The status alone shows the change too, for one FINFO.
    std::ofstream(mount_.drive() + "/NOTE.TXT") << "short";
    std::this_thread::sleep_for(700ms);
    mount_.trace().Reset();
    EXPECT_EQ(in_mount("stat -c %s NOTE.TXT").output, "5\n");
    EXPECT_EQ(linktest::traffic_of(mount_.trace()).requests, 1u) << Counts();
}

TEST_F(LinkEconomy, AChangeThroughTheMountIsNeverHiddenByTheCache) {
    BeginCached(60);
    std::ofstream(mount_.drive() + "/DATA.TXT") << "0123456789";
    EXPECT_EQ(in_mount("cat DATA.TXT").output, "0123456789");
    auto changed = in_mount(
        "printf abc > DATA.TXT && cat DATA.TXT && printf de >> DATA.TXT && "
        "cat DATA.TXT");
    EXPECT_EQ(changed.output, "abcabcde") << changed.output;
    std::ifstream device(mount_.drive() + "/DATA.TXT");
    std::string held((std::istreambuf_iterator<char>(device)), std::istreambuf_iterator<char>());
    EXPECT_EQ(held, "abcde");
}

TEST_F(LinkEconomy, TheHeadOfALargeFileCostsAboutAPage) {
    linktest::MountSetup setup;
    setup.readahead_speed = handheld::LinkSpeed::Series3Cable().bytesPerSecond;
    Begin(setup);
    MakeFile("BIG.BIN", 100 * 1024);
    mount_.trace().Reset();
    auto head = in_mount("head -c 100 BIG.BIN | wc -c");
    ASSERT_EQ(head.status, 0) << head.output;
    EXPECT_EQ(head.output, "100\n");
    linktest::Traffic traffic = linktest::traffic_of(mount_.trace());
    std::printf("head -c 100 of 100 KiB: %s\n", Counts().c_str());
    // One page of the Linux page cache: 4 KiB, not the 128 KiB of the kernel's read-ahead.
    EXPECT_GT(traffic.read_bytes_asked, 0u);
    EXPECT_LE(traffic.read_bytes_asked, 4096u) << Counts();
}

TEST_F(LinkEconomy, AppendsInALoopSendOnlyTheirData) {
    BeginCached(30);  // no status request falls inside the loop, even on a busy machine
    std::ofstream(mount_.drive() + "/LOG.TXT") << "start\n";
    EXPECT_EQ(in_mount("cat LOG.TXT").output, "start\n");
    mount_.trace().Reset();
    auto appended = in_mount("for i in $(seq 1 100); do printf 0123456789 >> LOG.TXT; done");
    ASSERT_EQ(appended.status, 0) << appended.output;
    std::printf("100 appends of 10 bytes: %s\n", Counts().c_str());
    EXPECT_EQ(Count(FWRITE), 100u) << Counts();
    // One open of the device's handle, which the device puts at the end of the file, where
    // the file system knows it to be: no seek. At most one status request besides.
    EXPECT_EQ(Count(FSEEK), 0u) << Counts();
    EXPECT_LE(Count(FOPEN), 1u) << Counts();
    EXPECT_LE(Count(FINFO), 1u) << Counts();
    EXPECT_LE(linktest::traffic_of(mount_.trace()).requests, 103u) << Counts();
    auto size = run("stat -c %s " + quote(mount_.drive() + "/LOG.TXT"));
    EXPECT_EQ(size.output, "1006\n");

    // A new file made by the first append of the loop.
    mount_.trace().Reset();
    appended = in_mount("for i in $(seq 1 100); do printf 0123456789 >> NEW.TXT; done");
    ASSERT_EQ(appended.status, 0) << appended.output;
    std::printf("100 appends to a new file: %s\n", Counts().c_str());
    EXPECT_EQ(Count(FWRITE), 100u) << Counts();
    EXPECT_EQ(Count(FSEEK), 0u) << Counts();
    EXPECT_EQ(Count(FOPEN), 1u) << Counts();
    EXPECT_EQ(run("stat -c %s " + quote(mount_.drive() + "/NEW.TXT")).output, "1000\n");
}

TEST_F(LinkEconomy, ACopyInSendsItsDataInFullChunksAndNothingElse) {
    Begin();
    ASSERT_EQ(run("head -c 20480 /dev/urandom > " + quote(mount_.folder() + "/IN.BIN")).status, 0);
    mount_.trace().Reset();
    auto copied =
        run("cp " + quote(mount_.folder() + "/IN.BIN") + " " + quote(mount_.mount() + "/IN.BIN"));
    ASSERT_EQ(copied.status, 0) << copied.output;
    std::printf("cp of 20 KiB in: %s\n", Counts().c_str());
    EXPECT_EQ(Count(FWRITE), 41u) << Counts();  // 20,480 bytes in 503-byte chunks
    EXPECT_EQ(Count(FSEEK), 0u) << Counts();
    EXPECT_EQ(Count(FOPEN), 1u) << Counts();
    EXPECT_EQ(Count(FREAD), 0u) << Counts();
    EXPECT_EQ(
        run("cmp " + quote(mount_.folder() + "/IN.BIN") + " " + quote(mount_.drive() + "/IN.BIN"))
            .status,
        0);
}

TEST_F(LinkEconomy, ASecondLongListingWithinTheCacheTimeCostsNothing) {
    BeginCached(30);  // the two listings surely fall within it, even on a busy machine
    auto made = run("mkdir " + quote(mount_.drive() + "/MANY") + " && cd " +
                    quote(mount_.drive() + "/MANY") +
                    " && for i in $(seq 1 300); do printf $i > F$i.TXT; done");
    ASSERT_EQ(made.status, 0) << made.output;
    mount_.trace().Reset();
    auto first = in_mount("ls -l MANY | wc -l");
    EXPECT_EQ(first.output, "301\n");
    std::printf("first ls -l of 300 entries: %s\n", Counts().c_str());
    EXPECT_EQ(Count(FOPEN), 1u) << Counts();
    EXPECT_LE(Count(FINFO), 1u) << Counts();

    // The listing's handle may be closed a moment later.
    auto end = std::chrono::steady_clock::now() + 5s;
    while (Count(FCLOSE) == 0 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(20ms);
    mount_.trace().Reset();
    auto second = in_mount("ls -l MANY | wc -l");
    EXPECT_EQ(second.output, "301\n");
    std::printf("second ls -l: %s\n", Counts().c_str());
    EXPECT_EQ(linktest::traffic_of(mount_.trace()).requests, 0u) << Counts();

    // A file made through the mount shows in the next listing at once.
    auto added = in_mount("printf x > MANY/NEW.TXT && ls MANY | grep -c NEW.TXT");
    EXPECT_EQ(added.output, "1\n") << added.output;
}

// Every transfer event the bridge reports, as text.
class RecordingListener : public fusebridge::TransferListener {
public:
    void transfer_started(uint64_t id, const std::string& name, uint64_t size,
                          bool writing) override {
        std::lock_guard<std::mutex> guard(lock_);
        ids_.push_back(id);
        events_.push_back("start " + name.substr(name.rfind('/') + 1) + " " + std::to_string(size) +
                          (writing ? " write" : " read"));
    }
    void transfer_moved(uint64_t id, uint64_t bytes) override {
        std::lock_guard<std::mutex> guard(lock_);
        if (id != ids_.back()) events_.push_back("moved on another id");
        last_bytes_ = bytes;
    }
    void transfer_ended(uint64_t id) override {
        std::lock_guard<std::mutex> guard(lock_);
        if (id != ids_.back()) events_.push_back("ended another id");
        events_.push_back("end " + std::to_string(last_bytes_));
    }
    std::vector<std::string> Events() {
        std::lock_guard<std::mutex> guard(lock_);
        return events_;
    }

private:
    std::mutex lock_;
    std::vector<uint64_t> ids_;
    std::vector<std::string> events_;
    uint64_t last_bytes_ = 0;
};

TEST_F(LinkEconomy, TransfersAreReportedWithNameSizeAndBytes) {
    RecordingListener listener;
    linktest::MountSetup setup;
    setup.transfers = &listener;
    Begin(setup);
    MakeFile("STORY.TXT", 20 * 1024);
    ASSERT_EQ(in_mount("cat STORY.TXT > /dev/null").status, 0);
    ASSERT_EQ(
        run("head -c 3000 /dev/urandom | cat > " + quote(mount_.mount() + "/COPY.BIN")).status, 0);
    // Releases reach the bridge a moment after the programs end.
    auto end = std::chrono::steady_clock::now() + 5s;
    while (listener.Events().size() < 4 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(20ms);
    EXPECT_EQ(listener.Events(),
              (std::vector<std::string>{"start STORY.TXT 20480 read", "end 20480",
                                        "start COPY.BIN 0 write", "end 3000"}));
}

}  // namespace
