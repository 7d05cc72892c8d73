// tavro3 in the whole stack: the in-process host link application with a simulated Series 3
// whose drive is a temporary folder, the real tavro3.so loaded by the kernel's mount(), and
// every operation driven through the kernel's system calls. Packets are counted with the
// host's trace.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "HostMount.h"
#include "KernelFiles.h"
#include "TempDir.h"
#include "kernel/syscalls.h"
#include "platform/ByteOrder.h"
#include "platform/Series3Wire.h"

namespace stack {

inline void WriteHostFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

class StackTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(folder.empty());
        StartHost();
    }

    void TearDown() override { StopHost(); }

    // Starts the host with drive M: on `folder` and mounts it at `where`.
    void StartHost(const std::string& debugFile = "", bool readOnly = false) {
        vantrel::HostOptions options;
        vantrel::DriveSetup drive = HostDrive('M', "INTERNAL", folder);
        drive.readOnly = readOnly;
        options.drives.push_back(drive);
        options.traceInMemory = false;
        ASSERT_EQ(stack_.Start(options), B_OK);
        host = stack_.host.get();
        ASSERT_EQ(stack_.Mount("tavro3", "M:", where, debugFile), B_OK);
    }

    void StopHost() {
        EXPECT_EQ(stack_.Stop(), B_OK);
        host = nullptr;
    }

    // Requests of one opcode sent on our channel so far.
    uint32 Sent(uint16 opcode) { return stack_.Sent(opcode); }

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

    TempDir temp_{"tavro3-stack"};
    std::string folder = temp_.path();
    std::string where = "/psion/INTERNAL";
    HostMount stack_;
    vantrel::HostLink* host = nullptr;
};

}  // namespace stack
