// The model run's target for a file system reached through the kernel's system calls, shared
// by the Series 3 and Series 5 runs.
#pragma once

#include <cstdlib>
#include <string>

#include "ModelChecks.h"
#include "ModelRun.h"
#include "kernel/syscalls.h"

namespace model {

// A file system by the kernel's calls; paths relative to the volume.
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
        int status = ReadRange(
            [fd](size_t at, char* bytes, size_t count) {
                return sys_read(fd, static_cast<off_t>(at), bytes, count);
            },
            offset, length, out);
        int closed = sys_close(fd);
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
    bool IsLinkError(int status) const override {
        return status == B_TIMED_OUT || status == B_IO_ERROR;
    }

private:
    std::string Full(const std::string& path) const {
        return path.empty() ? root : root + "/" + path;
    }

    static int WriteAndClose(int fd, size_t offset, const std::string& data, size_t* written) {
        int status = WriteRange(
            [fd](size_t at, const char* bytes, size_t count) {
                return sys_write(fd, static_cast<off_t>(at), bytes, count);
            },
            offset, data, written, B_IO_ERROR);
        int closed = sys_close(fd);
        return status < 0 ? status : closed;
    }

    std::string root;
};

}  // namespace model
