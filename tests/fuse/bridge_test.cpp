// The bridge against a small in-memory volume: real Linux programs on a real FUSE mount.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "fusebridge/FuseBridge.h"
#include "kernel/syscalls.h"
#include "memfs.h"
#include "shell.h"

namespace {

using fusetest::mounted_at;
using fusetest::quote;
using fusetest::run;

// A volume like the handheld's: letter case ignored, no rename over an existing name, 8 MiB.
status_t MountMemfs(const std::string& where) {
    memfs::MountParams params;
    params.caseInsensitive = true;
    params.renameKeepsTarget = true;
    params.capacity = 8 << 20;
    return mount("memfs", where.c_str(), nullptr, 0, &params, sizeof params);
}

class BridgeTest : public testing::Test {
protected:
    void SetUp() override {
        std::string reason;
        if (!fusebridge::available(&reason)) GTEST_SKIP() << "FUSE is not available: " << reason;
        folder_ = fusetest::make_temporary_folder("tavro-bridge-");
        ASSERT_FALSE(folder_.empty());
        where_ = folder_ + "/VOL";
        ASSERT_EQ(kernel_register_fs("memfs", &memfs::Ops(), B_CURRENT_FS_API_VERSION), B_OK);
        ASSERT_EQ(fusebridge::start({}), B_OK);
        ASSERT_EQ(MountMemfs(where_), B_OK);
        ASSERT_TRUE(mounted_at(where_));
        ASSERT_EQ(kernel_volume_at(where_.c_str(), &nsid_, &root_), B_OK);
    }

    void TearDown() override {
        if (folder_.empty()) return;
        for (int attempt = 0;
             attempt < 50 && kernel_volume_at(where_.c_str(), nullptr, nullptr) == B_OK;
             attempt++) {
            if (unmount(where_.c_str()) != B_BUSY) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        fusebridge::stop();
        EXPECT_FALSE(mounted_at(where_)) << "a FUSE mount was left at " << where_;
        (void)kernel_unregister_fs("memfs");
        if (!mounted_at(where_)) fusetest::remove_tree(folder_);
    }

    // Runs a shell command inside the mount.
    fusetest::Result in_volume(const std::string& command) {
        return run("cd " + quote(where_) + " && " + command);
    }

    std::string folder_;
    std::string where_;
    nspace_id nsid_ = -1;
    vnode_id root_ = -1;
};

TEST_F(BridgeTest, OrdinaryProgramsMakeChangeAndListFilesAndDirectories) {
    auto made = in_volume(
        "mkdir -p DOCS/SUB && printf hello > DOCS/A.TXT && cp DOCS/A.TXT DOCS/SUB/B.TXT && "
        "mv DOCS/A.TXT DOCS/C.TXT && mv DOCS/C.TXT D.TXT && ls -l DOCS DOCS/SUB && cat D.TXT");
    ASSERT_EQ(made.status, 0) << made.output;
    EXPECT_NE(made.output.find("B.TXT"), std::string::npos) << made.output;
    EXPECT_NE(made.output.find("hello"), std::string::npos) << made.output;

    auto listed = in_volume("find . | sort");
    EXPECT_EQ(listed.output, ".\n./D.TXT\n./DOCS\n./DOCS/SUB\n./DOCS/SUB/B.TXT\n") << listed.output;

    // The kernel's own calls see what the programs did.
    be_stat st{};
    ASSERT_EQ(sys_stat((where_ + "/DOCS/SUB/B.TXT").c_str(), &st), B_OK);
    EXPECT_EQ(st.st_size, 5);
    EXPECT_EQ(sys_stat((where_ + "/DOCS/A.TXT").c_str(), &st), B_ENTRY_NOT_FOUND);

    auto removed = in_volume("rm D.TXT DOCS/SUB/B.TXT && rmdir DOCS/SUB && ls -A DOCS && ls -A");
    ASSERT_EQ(removed.status, 0) << removed.output;
    EXPECT_EQ(removed.output, "DOCS\n");
}

TEST_F(BridgeTest, StatusesReachProgramsAsTheirErrno) {
    auto not_empty = in_volume("mkdir -p DIR/SUB && rmdir DIR");
    EXPECT_NE(not_empty.status, 0);
    EXPECT_NE(not_empty.output.find("Directory not empty"), std::string::npos) << not_empty.output;

    auto missing = in_volume("cat NOPE.TXT");
    EXPECT_NE(missing.output.find("No such file or directory"), std::string::npos)
        << missing.output;

    auto exists = in_volume("mkdir DIR");
    EXPECT_NE(exists.output.find("File exists"), std::string::npos) << exists.output;

    auto is_dir = in_volume("rm DIR/SUB");
    EXPECT_NE(is_dir.status, 0);
    EXPECT_NE(is_dir.output.find("Is a directory"), std::string::npos) << is_dir.output;
}

TEST_F(BridgeTest, AFullVolumeSaysNoSpace) {
    // The in-memory volume holds 8 MiB.
    auto full = in_volume("dd if=/dev/zero of=BIG.BIN bs=1M count=10");
    EXPECT_NE(full.status, 0);
    EXPECT_NE(full.output.find("No space left on device"), std::string::npos) << full.output;
    auto df = in_volume("df -B1 . | tail -1");
    EXPECT_EQ(df.status, 0) << df.output;
    EXPECT_NE(df.output.find("8388608"), std::string::npos) << df.output;
}

TEST_F(BridgeTest, RenameReplacesATargetTheVolumeWouldRefuse) {
    auto renamed = in_volume(
        "printf first > A.TXT && printf second > B.TXT && mv -f A.TXT B.TXT && cat B.TXT && ls");
    ASSERT_EQ(renamed.status, 0) << renamed.output;
    EXPECT_EQ(renamed.output, "firstB.TXT\n");

    auto dirs = in_volume("mkdir -p X Y/INNER && mv -T X Y");
    EXPECT_NE(dirs.status, 0);
    EXPECT_NE(dirs.output.find("not empty"), std::string::npos) << dirs.output;
    auto empty = in_volume("mkdir -p P Q && printf q > P/F && mv -T P Q && cat Q/F && ls");
    ASSERT_EQ(empty.status, 0) << empty.output;
    EXPECT_EQ(empty.output, "qB.TXT\nQ\nX\nY\n");
}

// A program run in the volume whose whole output shows that the volume did its part.
struct Program {
    const char* test;
    const char* command;
    const char* output;
};

class BridgePrograms : public BridgeTest, public testing::WithParamInterface<Program> {};

TEST_P(BridgePrograms, PrintWhatTheVolumeHolds) {
    auto result = in_volume(GetParam().command);
    ASSERT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(result.output, GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(
    , BridgePrograms,
    testing::Values(Program{"NamesAreFoundWhateverTheirLetterCase",
                            "printf data > README.TXT && cat readme.txt", "data"},
                    Program{"TouchSetsTheModificationTime",
                            "printf x > T.TXT && touch -m -d '2001-02-03 04:05:06 UTC' T.TXT && "
                            "stat -c %Y T.TXT",
                            "981173106\n"},
                    Program{"TruncationReachesTheVolume",
                            "printf 0123456789 > F.TXT && truncate -s 4 F.TXT && cat F.TXT && "
                            "printf ab > F.TXT && cat F.TXT && printf cd >> F.TXT && cat F.TXT",
                            "0123ababcd"}),
    [](const testing::TestParamInfo<Program>& info) { return std::string(info.param.test); });

TEST_F(BridgeTest, AttributesAreUserExtendedAttributes) {
    auto set = in_volume(
        "printf x > F.TXT && setfattr -n user.comment -v hello F.TXT && "
        "setfattr -n user.mime_type -v text/plain F.TXT && "
        "getfattr --only-values -n user.comment F.TXT && echo && "
        "getfattr --only-values -n user.mime_type F.TXT && echo && getfattr -d F.TXT");
    ASSERT_EQ(set.status, 0) << set.output;
    EXPECT_NE(set.output.find("hello\ntext/plain\n"), std::string::npos) << set.output;
    EXPECT_NE(set.output.find("user.BEOS:TYPE="), std::string::npos) << set.output;
    EXPECT_NE(set.output.find("user.mime_type=\"text/plain\""), std::string::npos) << set.output;

    // The type is the volume's "BEOS:TYPE", a MIME string with its NUL.
    char type[64] = {};
    ssize_t size = sys_read_attr((where_ + "/F.TXT").c_str(), "BEOS:TYPE", B_MIME_STRING_TYPE, 0,
                                 type, sizeof type);
    ASSERT_EQ(size, 11);
    EXPECT_STREQ(type, "text/plain");
    attr_info info{};
    ASSERT_EQ(sys_stat_attr((where_ + "/F.TXT").c_str(), "BEOS:TYPE", &info), B_OK);
    EXPECT_EQ(info.type, B_MIME_STRING_TYPE);

    // A shorter value replaces a longer one entirely.
    auto shorter = in_volume(
        "setfattr -n user.comment -v hi F.TXT && getfattr --only-values -n user.comment F.TXT");
    EXPECT_EQ(shorter.output, "hi");

    auto removed = in_volume("setfattr -x user.comment F.TXT && getfattr -n user.comment F.TXT");
    EXPECT_NE(removed.status, 0);
    EXPECT_NE(removed.output.find("No such attribute"), std::string::npos) << removed.output;

    auto foreign = in_volume("setfattr -n trusted.x -v 1 F.TXT");
    EXPECT_NE(foreign.status, 0);
    EXPECT_NE(foreign.output.find("not supported"), std::string::npos) << foreign.output;

    auto create_only = in_volume(
        "setfattr -n user.mime_type -v a/b F.TXT && "
        "python3 -c \"import os; os.setxattr('F.TXT', 'user.mime_type', "
        "b'c/d', os.XATTR_CREATE)\"");
    EXPECT_NE(create_only.output.find("File exists"), std::string::npos) << create_only.output;
}

TEST_F(BridgeTest, LookupsHoldReferencesThatUnmountFindsGivenBack) {
    auto used = in_volume("mkdir -p A/B && printf x > A/B/F && ls -lR > /dev/null && cat A/B/F");
    ASSERT_EQ(used.status, 0) << used.output;
    vnode_id dir = 0;
    ASSERT_EQ(vfs_lookup(nsid_, root_, "A", &dir), B_OK);
    // Our own reference plus at least the one the Linux kernel's lookup holds.
    EXPECT_GE(kernel_vnode_refcount(nsid_, dir), 2);
    ASSERT_EQ(vfs_put(nsid_, dir), B_OK);

    // The kernel refuses to unmount while a node is referenced: the bridge gave all back.
    EXPECT_EQ(unmount(where_.c_str()), B_OK);
    EXPECT_FALSE(mounted_at(where_));
    EXPECT_EQ(fusebridge::mount_count(), 0);
}

TEST_F(BridgeTest, ABusyMountRefusesToGoAndThenFailsAtOnce) {
    ASSERT_EQ(in_volume("printf content > F.TXT").status, 0);
    int fd = open((where_ + "/F.TXT").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(unmount(where_.c_str()), B_BUSY);
    EXPECT_TRUE(mounted_at(where_));

    auto start = std::chrono::steady_clock::now();
    auto refused = run("cat " + quote(where_ + "/F.TXT") + "; ls " + quote(where_));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_NE(refused.output.find("Input/output error"), std::string::npos) << refused.output;
    char buffer[16];
    EXPECT_LT(pread(fd, buffer, sizeof buffer, 0), 0);
    EXPECT_EQ(errno, EIO);

    close(fd);
    status_t status = B_BUSY;
    // The release reaches the bridge a moment after close returns.
    for (int attempt = 0; attempt < 50 && status == B_BUSY; attempt++) {
        status = unmount(where_.c_str());
        if (status == B_BUSY) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(status, B_OK);
    EXPECT_FALSE(mounted_at(where_));
}

TEST_F(BridgeTest, StoppingTheBridgeLeavesNoMountEvenWhenBusy) {
    ASSERT_EQ(in_volume("mkdir D && printf x > D/F.TXT").status, 0);
    int fd = open((where_ + "/D/F.TXT").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    fusebridge::stop();
    EXPECT_FALSE(mounted_at(where_));
    char buffer[4];
    EXPECT_LT(read(fd, buffer, sizeof buffer), 0);
    close(fd);
    // Every reference and descriptor the bridge held went back to the kernel.
    EXPECT_EQ(unmount(where_.c_str()), B_OK);
}

TEST_F(BridgeTest, AMountTheUserEndedIsStillUnmountedCleanly) {
    ASSERT_EQ(in_volume("printf x > F.TXT && cat F.TXT").status, 0);
    auto ended = run("umount " + quote(where_) + " || fusermount3 -u " + quote(where_));
    ASSERT_EQ(ended.status, 0) << ended.output;
    EXPECT_FALSE(mounted_at(where_));
    EXPECT_EQ(unmount(where_.c_str()), B_OK);
}

TEST_F(BridgeTest, EveryLinuxMountMadeAndEndedIsTold) {
    struct Told {
        std::mutex lock;
        std::vector<std::pair<std::string, bool>> events;
    } told;
    fusebridge::Options options;
    options.context = &told;
    options.changed = [](void* context, const char* where, bool mounted) {
        auto* t = static_cast<Told*>(context);
        std::lock_guard<std::mutex> guard(t->lock);
        t->events.emplace_back(where, mounted);
    };
    ASSERT_EQ(fusebridge::start(options), B_OK);
    // The fixture's own unmount must not reach `told` once the test is over.
    struct Restore {
        ~Restore() { (void)fusebridge::start({}); }
    } restore;
    std::string two = folder_ + "/TWO";
    ASSERT_EQ(MountMemfs(two), B_OK);
    ASSERT_TRUE(mounted_at(two));
    // Told after the Linux mount is there, so that whoever hears it can use it.
    {
        std::lock_guard<std::mutex> guard(told.lock);
        ASSERT_EQ(told.events.size(), 1u);
        EXPECT_EQ(told.events[0], std::make_pair(two, true));
    }
    ASSERT_EQ(unmount(two.c_str()), B_OK);
    EXPECT_FALSE(mounted_at(two));
    std::lock_guard<std::mutex> guard(told.lock);
    ASSERT_EQ(told.events.size(), 2u);
    EXPECT_EQ(told.events[1], std::make_pair(two, false));
}

}  // namespace
