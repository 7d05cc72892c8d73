// Whole-folder and whole-file reads through the kernel's system calls, for tests that drive a
// mounted file system as a program would. Failures are test failures.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/syscalls.h"

// Every name a listing yields, in order.
inline std::vector<std::string> List(const std::string& path) {
    std::vector<std::string> names;
    int fd = sys_opendir(path.c_str());
    EXPECT_GE(fd, 0) << path;
    if (fd < 0) return names;
    be_dirent entry;
    while (sys_readdir(fd, &entry, sizeof entry) == 1) names.push_back(entry.d_name);
    EXPECT_EQ(sys_closedir(fd), B_OK);
    return names;
}

// The whole file, read in calls of `chunk` bytes.
inline std::string ReadAll(const std::string& path, size_t chunk = 65536) {
    int fd = sys_open(path.c_str(), B_O_RDONLY, 0);
    EXPECT_GE(fd, 0) << path;
    std::string out;
    std::vector<char> buffer(chunk);
    for (off_t pos = 0;;) {
        ssize_t n = sys_read(fd, pos, buffer.data(), buffer.size());
        EXPECT_GE(n, 0);
        if (n <= 0) break;
        out.append(buffer.data(), static_cast<size_t>(n));
        pos += n;
    }
    sys_close(fd);
    return out;
}
