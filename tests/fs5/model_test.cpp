// The model-based random-operation run on tavro5: the kernel's system calls, against the
// simulated Series 5 behind the in-process host (long, case-preserving names, any size can be
// set), with the device's faults. A bounded number of operations over fixed seeds;
// scripts/soak.sh runs it long (TAVRO_MODEL_OPERATIONS, TAVRO_MODEL_SEED, TAVRO_MODEL_PROGRESS,
// TAVRO_MODEL_FAULT_EVERY).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ModelRun.h"
#include "host/HostLink.h"
#include "host/RawChannel.h"
#include "kernel/syscalls.h"
#include "platform/ByteOrder.h"
#include "tavro5.h"

namespace {

uint32 FromEnvironment(const char* name, uint32 fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != 0 ? static_cast<uint32>(std::strtoul(text, nullptr, 10))
                                         : fallback;
}

// tavro5 by the kernel's calls; paths relative to the volume.
class KernelTarget : public model::Target {
public:
    explicit KernelTarget(std::string root) : root(std::move(root)) {}

    int CreateExclusive(const std::string& path, const std::string& data,
                        size_t* written) override {
        int fd = sys_open(Full(path).c_str(), B_O_WRONLY | B_O_CREAT | B_O_EXCL, 0644);
        if (fd < 0) return fd;
        return WriteAndClose(fd, 0, data, written);
    }

    int WriteAt(const std::string& path, size_t offset, const std::string& data, bool append,
                size_t* written) override {
        int fd = sys_open(Full(path).c_str(), B_O_WRONLY | (append ? B_O_APPEND : 0), 0);
        if (fd < 0) return fd;
        return WriteAndClose(fd, offset, data, written);
    }

    int TruncateToZero(const std::string& path, bool throughOpen) override {
        if (throughOpen) {
            int fd = sys_open(Full(path).c_str(), B_O_WRONLY | B_O_TRUNC, 0);
            if (fd < 0) return fd;
            return sys_close(fd);
        }
        return SetSize(path, 0);
    }

    int SetSize(const std::string& path, size_t size) override {
        be_stat st{};
        st.st_size = static_cast<off_t>(size);
        return sys_wstat(Full(path).c_str(), &st, WSTAT_SIZE);
    }

    int Read(const std::string& path, size_t offset, size_t length, std::string* out) override {
        out->clear();
        int fd = sys_open(Full(path).c_str(), B_O_RDONLY, 0);
        if (fd < 0) return fd;
        std::string buffer(length, '\0');
        size_t got = 0;
        int status = 0;
        while (got < length) {
            ssize_t n =
                sys_read(fd, static_cast<off_t>(offset + got), buffer.data() + got, length - got);
            if (n < 0) status = static_cast<int>(n);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        int closed = sys_close(fd);
        out->assign(buffer.data(), got);
        return status < 0 ? status : closed;
    }

    int Stat(const std::string& path, bool* directory, uint64_t* size) override {
        be_stat st{};
        int status = sys_stat(Full(path).c_str(), &st);
        if (status < 0) return status;
        *directory = (st.st_mode & 0xF000) == B_S_IFDIR;
        *size = static_cast<uint64_t>(st.st_size);
        return 0;
    }

    int List(const std::string& path, std::vector<std::string>* names) override {
        names->clear();
        int fd = sys_opendir(Full(path).c_str());
        if (fd < 0) return fd;
        be_dirent entry;
        int status;
        while ((status = sys_readdir(fd, &entry, sizeof entry)) == 1) {
            std::string name = entry.d_name;
            if (name != "." && name != "..") names->push_back(name);
        }
        int closed = sys_closedir(fd);
        return status < 0 ? status : closed;
    }

    int Rename(const std::string& from, const std::string& to) override {
        return sys_rename(Full(from).c_str(), Full(to).c_str());
    }
    int Mkdir(const std::string& path) override { return sys_mkdir(Full(path).c_str(), 0755); }
    int Rmdir(const std::string& path) override { return sys_rmdir(Full(path).c_str()); }
    int Unlink(const std::string& path) override { return sys_unlink(Full(path).c_str()); }
    // tavro5 gives B_IO_ERROR for a reply that did not come, came garbled or came short. A
    // file whose open lost its reply stays open on the handheld (its handle never reached us)
    // until the channel closes: the handheld then refuses to remove or rename it (B_BUSY).
    bool IsLinkError(int status) const override {
        return status == B_IO_ERROR || status == B_TIMED_OUT || status == B_BUSY;
    }

private:
    std::string Full(const std::string& path) const {
        return path.empty() ? root : root + "/" + path;
    }

    static int WriteAndClose(int fd, size_t offset, const std::string& data, size_t* written) {
        size_t done = 0;
        int status = 0;
        while (done < data.size()) {
            ssize_t n = sys_write(fd, static_cast<off_t>(offset + done), data.data() + done,
                                  data.size() - done);
            if (n <= 0) {
                status = n < 0 ? static_cast<int>(n) : B_IO_ERROR;
                break;
            }
            done += static_cast<size_t>(n);
        }
        *written = done;
        int closed = sys_close(fd);
        return status < 0 ? status : closed;
    }

    std::string root;
};

// The host with a simulated Series 5 whose drive C: is an empty temporary folder, and the real
// tavro5.so mounted on it through the kernel.
class Series5Model : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tavro5-model-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        std::filesystem::create_directories(folder + "/c");
        vantrel::HostOptions options;
        options.family = vantrel::Family::Series5;
        vantrel::DriveSetup c;
        c.letter = 'C';
        c.volumeName = "Internal";
        c.folder = folder + "/c";
        c.capacity = 8 * 1024 * 1024;
        options.drives = {c};
        host = std::make_unique<vantrel::HostLink>(options);
        ASSERT_EQ(host->Start(), B_OK);
        ASSERT_EQ(host->LinkUp(), B_OK);
        channel = std::make_unique<vantrel::RawChannel>();
        ASSERT_EQ(channel->Connect("SYS$RFSV"), B_OK);
        sem = create_sem(1, "RFSV-NCP-Write");
        kernel_set_addon_path(TAVRO_FS_ADDON_DIR);
        uint8 block[408] = {};
        LongToBytes(static_cast<uint32>(host->RequestPort()), block + 4);
        LongToBytes(static_cast<uint32>(channel->ReplyPort()), block + 8);
        WordToBytes(channel->Channel(), block + 12);
        LongToBytes(static_cast<uint32>(sem), block + 16);
        memcpy(block + 20, "C:", 2);
        memcpy(block + 148, kWhere, strlen(kWhere));
        ASSERT_EQ(mount("tavro5", kWhere, nullptr, 0, block, sizeof block), B_OK);
        mounted = true;
    }

    void TearDown() override {
        if (mounted) {
            EXPECT_EQ(unmount(kWhere), B_OK);
        }
        channel.reset();
        if (host) host->LinkDown();
        host.reset();
        if (sem >= 0) delete_sem(sem);
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    model::Report RunModel(uint32 seed, uint32 operations, uint32 faultEvery) {
        model::Settings settings;
        settings.seed = FromEnvironment("TAVRO_MODEL_SEED", seed);
        settings.operations = FromEnvironment("TAVRO_MODEL_OPERATIONS", operations);
        settings.progressEvery = FromEnvironment("TAVRO_MODEL_PROGRESS", 0);
        settings.faultEvery =
            faultEvery == 0 ? 0 : FromEnvironment("TAVRO_MODEL_FAULT_EVERY", faultEvery);
        if (settings.faultEvery != 0) {
            // Short time-outs, so that lost replies cost little; late replies come later still.
            nspace_id nsid;
            EXPECT_EQ(kernel_volume_at(kWhere, &nsid, nullptr), B_OK);
            auto* vol = static_cast<tavro5::volume*>(kernel_volume_cookie(nsid));
            EXPECT_NE(vol, nullptr);
            if (vol != nullptr) vol->timeout = kTimeout;
        }
        KernelTarget target(kWhere);
        model::Faults faults;
        faults.arm = [this](const handheld::FaultRule& rule) { host->Faults().Add(rule); };
        faults.clear = [this] { host->ClearFaults(); };
        faults.strikes = [this] { return host->Faults().Strikes(); };
        settings.lateDelay = 2 * kTimeout;
        settings.hostFolder = folder + "/c";
        settings.renameReplaces = true;  // the family has a request that replaces
        settings.family.longNames = true;
        settings.family.anySize = true;
        model::Report report = model::Run(target, faults, settings);
        printf(
            "tavro5 model run seed %u: %llu operations, %llu struck by a fault (%llu of them "
            "failed), %llu link errors without a fault, %zu divergences\n",
            settings.seed, static_cast<unsigned long long>(report.operations),
            static_cast<unsigned long long>(report.faultsStruck),
            static_cast<unsigned long long>(report.failedUnderFault),
            static_cast<unsigned long long>(report.unprovokedFailures), report.divergences.size());
        return report;
    }

    static constexpr const char* kWhere = "/s5/Model";
    // Lost replies cost this much each; a busy machine can still answer within it.
    static constexpr bigtime_t kTimeout = 300000;

    std::string folder;
    std::unique_ptr<vantrel::HostLink> host;
    std::unique_ptr<vantrel::RawChannel> channel;
    sem_id sem = -1;
    bool mounted = false;
};

TEST_F(Series5Model, RandomOperationsWithLongMixedCaseNamesMatchTheModel) {
    model::Report report = RunModel(11, 1500, 0);
    EXPECT_GE(report.operations, FromEnvironment("TAVRO_MODEL_OPERATIONS", 1500));
    EXPECT_TRUE(report.divergences.empty()) << report.divergences.front();
}

TEST_F(Series5Model, RandomOperationsUnderLostLateShortAndGarbledRepliesNeverLie) {
    model::Report report = RunModel(23, 800, 4);
    EXPECT_GE(report.operations, FromEnvironment("TAVRO_MODEL_OPERATIONS", 800));
    // About one operation in four gets a fault armed; most of those strike.
    uint32_t every = FromEnvironment("TAVRO_MODEL_FAULT_EVERY", 4);
    if (every != 0) {
        EXPECT_GT(report.faultsStruck, report.operations / (6 * every));
    }
    EXPECT_TRUE(report.divergences.empty()) << report.divergences.front();
}

}  // namespace
