#include "LinuxMount.h"

#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

extern char** environ;

namespace fusebridge {

namespace {

// /proc/self/mounts writes space, tab, newline and backslash as octal escapes.
std::string unescape_mount_field(const std::string& field) {
    std::string result;
    for (size_t i = 0; i < field.size(); i++) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            int value = 0;
            bool octal = true;
            for (size_t k = 1; k <= 3; k++) {
                char c = field[i + k];
                if (c < '0' || c > '7') octal = false;
                value = value * 8 + (c - '0');
            }
            if (octal) {
                result.push_back(static_cast<char>(value));
                i += 3;
                continue;
            }
        }
        result.push_back(field[i]);
    }
    return result;
}

// Runs fusermount3, for a user who may not call umount2 on a FUSE mount.
bool run_fusermount(const std::string& path, bool lazy) {
    std::vector<const char*> argv = {"fusermount3", "-u", "-q"};
    if (lazy) argv.push_back("-z");
    argv.push_back("--");
    argv.push_back(path.c_str());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, "fusermount3", nullptr, nullptr, const_cast<char**>(argv.data()),
                     environ) != 0)
        return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

status_t make_directories(const std::string& path) {
    std::string prefix;
    std::stringstream parts(path);
    std::string part;
    if (!path.empty() && path[0] == '/') prefix = "/";
    while (std::getline(parts, part, '/')) {
        if (part.empty()) continue;
        prefix += part;
        if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return errno;
        prefix += "/";
    }
    return B_OK;
}

}  // namespace

bool linux_mounted_at(const std::string& path) {
    std::ifstream mounts("/proc/self/mounts");
    std::string line;
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string device, where;
        if (fields >> device >> where && unescape_mount_field(where) == path) return true;
    }
    return false;
}

status_t unmount_linux(const std::string& path, bool lazy) {
    if (umount2(path.c_str(), lazy ? MNT_DETACH : 0) == 0) return B_OK;
    switch (errno) {
        case EBUSY:
            return B_BUSY;
        case EINVAL:
        case ENOENT:
            // Not a mount point (any more): somebody else unmounted it.
            return linux_mounted_at(path) ? B_ERROR : B_OK;
        case EPERM:
            if (run_fusermount(path, lazy)) return B_OK;
            return linux_mounted_at(path) ? B_BUSY : B_OK;
        default:
            return errno;
    }
}

status_t prepare_mount_point(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        if (errno == ENOTCONN || errno == ECONNABORTED) {
            // A FUSE mount whose server is gone: nobody can use it, so detach it.
            std::fprintf(stderr, "fuse: detaching the dead mount at %s\n", path.c_str());
            status_t status = unmount_linux(path, true);
            if (status != B_OK) return status;
            if (stat(path.c_str(), &st) != 0) return errno;
        } else if (errno == ENOENT) {
            status_t status = make_directories(path);
            if (status != B_OK) return status;
            if (stat(path.c_str(), &st) != 0) return errno;
        } else {
            return errno;
        }
    }
    return S_ISDIR(st.st_mode) ? B_OK : B_NOT_A_DIRECTORY;
}

bool allow_other_permitted() {
    if (geteuid() == 0) return true;
    std::ifstream config("/etc/fuse.conf");
    std::string line;
    while (std::getline(config, line)) {
        size_t start = line.find_first_not_of(" \t");
        if (start != std::string::npos && line.compare(start, 16, "user_allow_other") == 0)
            return true;
    }
    return false;
}

}  // namespace fusebridge
