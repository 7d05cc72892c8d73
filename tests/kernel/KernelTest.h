// Shared setup of the kernel tests: memfs registered under "memfs" and mounted per test.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "kernel/syscalls.h"
#include "memfs.h"

namespace kerneltest {

inline void RegisterMemfs() {
    status_t status = kernel_register_fs("memfs", &memfs::Ops(), B_CURRENT_FS_API_VERSION);
    ASSERT_TRUE(status == B_OK || status == B_NAME_IN_USE);
}

// A memfs volume mounted at `where` for the life of the object.
class MemVolume {
public:
    explicit MemVolume(std::string where) : where_(std::move(where)) {
        RegisterMemfs();
        EXPECT_EQ(B_OK, mount("memfs", where_.c_str(), nullptr, 0, nullptr, 0));
        EXPECT_EQ(B_OK, kernel_volume_at(where_.c_str(), &nsid_, &root_));
    }
    ~MemVolume() {
        if (mounted_) unmount(where_.c_str());
    }
    status_t Unmount() {
        status_t status = unmount(where_.c_str());
        if (status == B_OK) mounted_ = false;
        return status;
    }
    std::string Path(const std::string& rest) const { return where_ + "/" + rest; }
    nspace_id nsid() const { return nsid_; }
    vnode_id root() const { return root_; }
    vnode_id Id(const std::string& rest) const { return memfs::IdOf(nsid_, rest); }
    memfs::Report Report() const { return memfs::ReportOf(nsid_); }

    // Creates a file with the given contents.
    void MakeFile(const std::string& rest, const std::string& contents = "") const {
        int fd = sys_open(Path(rest).c_str(), B_O_RDWR | B_O_CREAT, 0644);
        ASSERT_GE(fd, 0) << rest;
        if (!contents.empty()) {
            ASSERT_EQ(static_cast<ssize_t>(contents.size()),
                      sys_write(fd, 0, contents.data(), contents.size()));
        }
        ASSERT_EQ(B_OK, sys_close(fd));
    }
    // Creates an empty file; its node's id.
    vnode_id NewFile(const std::string& rest) const {
        MakeFile(rest);
        return Id(rest);
    }

private:
    std::string where_;
    nspace_id nsid_ = -1;
    vnode_id root_ = -1;
    bool mounted_ = true;
};

// Every node the kernel took in was let go exactly once (written out or removed), and memfs
// saw no breach of the contract.
inline void ExpectBalanced(const memfs::Report& report) {
    for (const auto& [id, counts] : report.nodes) {
        EXPECT_EQ(counts.loads, counts.writes + counts.removes) << "node " << id;
        EXPECT_LE(counts.removes, 1) << "node " << id;
    }
    EXPECT_TRUE(report.violations.empty()) << report.violations.front();
}

// Unmounts `volume`, then expects it balanced.
inline void UnmountBalanced(MemVolume& volume) {
    ASSERT_EQ(B_OK, volume.Unmount());
    ExpectBalanced(volume.Report());
}

}  // namespace kerneltest
