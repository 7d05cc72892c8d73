// tavro3 in the whole stack: the in-process host link application with a simulated Series 3
// whose drive is a temporary folder, the real tavro3.so loaded by the kernel's mount(), and
// every operation driven through the kernel's system calls. Packets are counted with the
// host's trace.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "KernelFiles.h"
#include "MountBlockBytes.h"
#include "RawChannel.h"
#include "host/HostLink.h"
#include "kernel/syscalls.h"
#include "platform/ByteOrder.h"
#include "platform/Series3Wire.h"

namespace stack {

inline std::string MakeTempFolder(const char* stem) {
    std::string pattern = std::filesystem::temp_directory_path() / (std::string(stem) + "XXXXXX");
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    return mkdtemp(buffer.data()) != nullptr ? std::string(buffer.data()) : std::string();
}

inline std::string ReadHostFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteHostFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

class StackTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = MakeTempFolder("tavro3-stack-");
        ASSERT_FALSE(folder.empty());
        StartHost({});
    }

    void TearDown() override {
        StopHost();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    // Starts the host with drive M: on `folder` (and whatever else `extra` adds) and mounts it.
    void StartHost(std::vector<vantrel::DriveSetup> extra, const std::string& debugFile = "",
                   bool readOnly = false) {
        vantrel::HostOptions options;
        vantrel::DriveSetup drive;
        drive.letter = 'M';
        drive.volumeName = "INTERNAL";
        drive.folder = folder;
        drive.readOnly = readOnly;
        drive.capacity = 8 * 1024 * 1024;
        options.drives.push_back(drive);
        for (auto& setup : extra) options.drives.push_back(setup);
        options.traceInMemory = false;
        host = std::make_unique<vantrel::HostLink>(options);
        ASSERT_EQ(host->Start(), B_OK);
        ASSERT_EQ(host->LinkUp(), B_OK);
        channel = std::make_unique<vantrel::RawChannel>();
        ASSERT_EQ(channel->Connect("SYS$RFSV"), B_OK);
        sem = create_sem(1, "RFSV-NCP-Write");
        kernel_set_addon_path(TAVRO_FS_ADDON_DIR);
        ASSERT_EQ(Mount("M:", where, debugFile), B_OK);
    }

    status_t Mount(const char* device, const std::string& at, const std::string& debugFile) {
        MountBlockBytes block =
            MakeMountBlock(host->RequestPort(), channel->ReplyPort(), channel->Channel(), sem,
                           device, at.c_str(), debugFile.c_str());
        return mount("tavro3", at.c_str(), nullptr, 0, block.data(), block.size());
    }

    void StopHost() {
        if (mounted) {
            EXPECT_EQ(unmount(where.c_str()), B_OK);
        }
        mounted = false;
        channel.reset();
        if (host) host->LinkDown();
        host.reset();
        if (sem >= 0) delete_sem(sem);
        sem = -1;
    }

    // Requests of one opcode sent on our channel so far.
    uint32 Sent(uint16 opcode) { return host->Trace().CountRequests(channel->Channel(), opcode); }

    std::string Path(const std::string& relative) const { return where + "/" + relative; }
    std::string HostPath(const std::string& relative) const { return folder + "/" + relative; }

    status_t WriteAll(const std::string& path, const std::string& bytes, int omode) {
        int fd = sys_open(path.c_str(), omode, 0644);
        if (fd < 0) return fd;
        size_t done = 0;
        status_t status = B_OK;
        while (done < bytes.size()) {
            size_t chunk = std::min<size_t>(65536, bytes.size() - done);
            ssize_t n = sys_write(fd, static_cast<off_t>(done), bytes.data() + done, chunk);
            if (n <= 0) {
                status = n < 0 ? static_cast<status_t>(n) : B_IO_ERROR;
                break;
            }
            done += static_cast<size_t>(n);
        }
        status_t closed = sys_close(fd);
        return status != B_OK ? status : closed;
    }

    std::string folder;
    std::string where = "/psion/INTERNAL";
    bool mounted = true;
    std::unique_ptr<vantrel::HostLink> host;
    std::unique_ptr<vantrel::RawChannel> channel;
    sem_id sem = -1;
};

}  // namespace stack
