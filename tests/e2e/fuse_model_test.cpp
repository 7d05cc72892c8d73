// The model-based random-operation run through the Linux mount: the same operations and rules
// as through the kernel's calls, here by ordinary system calls on the FUSE mount of a drive
// of the in-process host, with the device's faults. TAVRO_MODEL_OPERATIONS, TAVRO_MODEL_SEED
// and TAVRO_MODEL_PROGRESS make it run long (scripts/soak.sh).
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "LinkedMountTest.h"
#include "ModelHost.h"
#include "ShortTimeouts.h"
#include "fusebridge/FuseBridge.h"
#include "tavro.h"

namespace {

using namespace std::chrono_literals;

int Fail() { return -errno; }

class FuseTarget : public model::Target {
public:
    explicit FuseTarget(std::string root) : root(std::move(root)) {}

    int CreateExclusive(const std::string& path, const std::string& data,
                        size_t* written) override {
        int fd = open(Full(path).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (fd < 0) return Fail();
        return WriteAndClose(fd, 0, data, written);
    }

    int WriteAt(const std::string& path, size_t offset, const std::string& data, bool append,
                size_t* written) override {
        int fd = open(Full(path).c_str(), O_WRONLY | (append ? O_APPEND : 0));
        if (fd < 0) return Fail();
        return WriteAndClose(fd, offset, data, written);
    }

    int TruncateToZero(const std::string& path, bool throughOpen) override {
        if (throughOpen) {
            int fd = open(Full(path).c_str(), O_WRONLY | O_TRUNC);
            if (fd < 0) return Fail();
            return close(fd) == 0 ? 0 : Fail();
        }
        return SetSize(path, 0);
    }

    int SetSize(const std::string& path, size_t size) override {
        return truncate(Full(path).c_str(), static_cast<off_t>(size)) == 0 ? 0 : Fail();
    }

    int Read(const std::string& path, size_t offset, size_t length, std::string* out) override {
        out->clear();
        int fd = open(Full(path).c_str(), O_RDONLY);
        if (fd < 0) return Fail();
        int status = model::ReadRange(
            [fd](size_t at, char* bytes, size_t count) -> int64_t {
                ssize_t n = pread(fd, bytes, count, static_cast<off_t>(at));
                return n < 0 ? Fail() : n;
            },
            offset, length, out);
        int closed = close(fd) == 0 ? 0 : Fail();
        return status < 0 ? status : closed;
    }

    int Stat(const std::string& path, bool* directory, uint64_t* size) override {
        struct stat st;
        if (stat(Full(path).c_str(), &st) != 0) return Fail();
        *directory = S_ISDIR(st.st_mode);
        *size = static_cast<uint64_t>(st.st_size);
        return 0;
    }

    int List(const std::string& path, std::vector<std::string>* names) override {
        names->clear();
        DIR* dir = opendir(Full(path).c_str());
        if (dir == nullptr) return Fail();
        errno = 0;
        int status = 0;
        for (;;) {
            errno = 0;
            dirent* entry = readdir(dir);
            if (entry == nullptr) {
                if (errno != 0) status = Fail();
                break;
            }
            std::string name = entry->d_name;
            if (name != "." && name != "..") names->push_back(name);
        }
        closedir(dir);
        return status;
    }

    int Rename(const std::string& from, const std::string& to) override {
        return rename(Full(from).c_str(), Full(to).c_str()) == 0 ? 0 : Fail();
    }
    int Mkdir(const std::string& path) override {
        return mkdir(Full(path).c_str(), 0755) == 0 ? 0 : Fail();
    }
    int Rmdir(const std::string& path) override {
        return rmdir(Full(path).c_str()) == 0 ? 0 : Fail();
    }
    int Unlink(const std::string& path) override {
        return unlink(Full(path).c_str()) == 0 ? 0 : Fail();
    }
    bool IsLinkError(int status) const override { return status == -EIO || status == -ETIMEDOUT; }
    void Settle() override {
        auto end = std::chrono::steady_clock::now() + 5s;
        while (fusebridge::open_file_count() > 0 && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(1ms);
    }

private:
    std::string Full(const std::string& path) const {
        return path.empty() ? root : root + "/" + path;
    }

    static int WriteAndClose(int fd, size_t offset, const std::string& data, size_t* written) {
        int status = model::WriteRange(
            [fd](size_t at, const char* bytes, size_t count) -> int64_t {
                ssize_t n = pwrite(fd, bytes, count, static_cast<off_t>(at));
                return n < 0 ? Fail() : n;
            },
            offset, data, written, -EIO);
        int closed = close(fd) == 0 ? 0 : Fail();
        return status < 0 ? status : closed;
    }

    std::string root;
};

class FuseModel : public LinkedMountTest {
protected:
    FuseModel() : LinkedMountTest("tavro-fuse-model-") {}

    void Arrange() override {
        vantrel::DriveSetup& drive = linked_.AddDrive('M', "INTERNAL", "drive");
        drive.capacity = 8 * 1024 * 1024;
        drive_ = drive.folder;
        mount_ = linked_.mount("INTERNAL");
        // The model reads the drive's folder after every operation: nothing may be kept back
        // (closed handles, cached pages or statuses) for the cache time.
        fusebridge::Options bridge;
        bridge.cache_seconds = 0;
        ASSERT_EQ(linked_.Start(bridge), "");
        host_ = &linked_.host();
    }

    // Runs the model and expects a clean run.
    void Check(uint32 seed, uint32 operations, uint32 faultEvery) {
        if (faultEvery != 0) ShortenTimeouts(mount_, kTimeout);
        FuseTarget target(mount_);
        model::Settings settings = model::SettingsFor(seed, operations, faultEvery, kTimeout);
        settings.hostFolder = drive_;
        model::ExpectCleanRun(model::RunOnHost("fuse model run", target, *host_, settings),
                              operations, faultEvery);
    }

    // Lost replies cost this much each; a busy machine can still answer within it.
    static constexpr bigtime_t kTimeout = 400000;
    std::string drive_, mount_;
    vantrel::HostLink* host_ = nullptr;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "(absent)";
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A rename onto an existing file takes several requests (the target moves aside, the source
// takes its name, the target goes). Whichever of them meets a lost or garbled reply, the
// rename is either done or, when it fails, leaves both names as they were.
TEST_F(FuseModel, AReplacingRenameThatMeetsABadReplyIsDoneOrChangesNothing) {
    ShortenTimeouts(mount_, kTimeout);
    using handheld::FaultKind;
    int done = 0, failed = 0;
    for (FaultKind kind : {FaultKind::NoReply, FaultKind::GarbageReply}) {
        for (uint32 nth = 1; nth <= 9; nth++) {
            std::string tag = std::to_string(static_cast<int>(kind)) + "/" + std::to_string(nth);
            std::string source = "source " + tag, target = "target " + tag;
            WriteFile(drive_ + "/S.TXT", source);
            WriteFile(drive_ + "/T.TXT", target);
            handheld::FaultRule rule;
            rule.kind = kind;
            rule.nth = nth;
            rule.server = "SYS$RFSV";
            host_->Faults().Add(rule);
            int status = rename((mount_ + "/S.TXT").c_str(), (mount_ + "/T.TXT").c_str());
            host_->ClearFaults();
            std::vector<std::string> names;
            for (auto& entry : std::filesystem::directory_iterator(drive_))
                names.push_back(entry.path().filename().string());
            std::sort(names.begin(), names.end());
            if (status == 0) {
                done++;
                EXPECT_EQ(names, std::vector<std::string>{"T.TXT"}) << tag;
                EXPECT_EQ(ReadFile(drive_ + "/T.TXT"), source) << tag;
            } else {
                failed++;
                EXPECT_EQ(names, (std::vector<std::string>{"S.TXT", "T.TXT"})) << tag;
                EXPECT_EQ(ReadFile(drive_ + "/S.TXT"), source) << tag;
                EXPECT_EQ(ReadFile(drive_ + "/T.TXT"), target) << tag;
            }
            // The mount shows what the drive holds.
            struct stat st;
            EXPECT_EQ(stat((mount_ + "/T.TXT").c_str(), &st), 0) << tag;
            EXPECT_EQ(stat((mount_ + "/S.TXT").c_str(), &st) == 0, status != 0) << tag;
            std::filesystem::remove(drive_ + "/S.TXT");
            std::filesystem::remove(drive_ + "/T.TXT");
        }
    }
    printf("replacing renames under a fault: %d done, %d failed and changed nothing\n", done,
           failed);
}

TEST_F(FuseModel, RandomOperationsInMixedCaseMatchTheModel) { Check(31, 600, 0); }

// Faults on about one operation in four. Bounded for the suite (about 20 s under asan);
// scripts/soak.sh runs it long over many seeds.
TEST_F(FuseModel, RandomOperationsUnderLostLateShortAndGarbledRepliesNeverLie) {
    Check(37, 200, 4);
}

}  // namespace
