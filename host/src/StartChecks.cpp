#include "host/StartChecks.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace vantrel {

bool CheckDriveFolders(const HostOptions& options, std::string& error) {
    for (const DriveSetup& drive : options.drives) {
        struct stat st;
        std::string where = std::string("drive ") + drive.letter + ": folder " + drive.folder;
        if (stat(drive.folder.c_str(), &st) != 0) {
            error = where + ": " + strerror(errno);
            return false;
        }
        if (!S_ISDIR(st.st_mode)) {
            error = where + " is not a folder";
            return false;
        }
    }
    return true;
}

std::string AbsolutePath(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof(cwd)) == nullptr) return path;
    std::string base = cwd;
    if (base.back() != '/') base += '/';
    std::string rest = path;
    while (rest.rfind("./", 0) == 0) rest.erase(0, 2);
    return base + rest;
}

MountRootLock LockMountRoot(const std::string& mountRoot) {
    // mkdir -p, as the mount client would make it.
    for (size_t slash = mountRoot.find('/', 1);; slash = mountRoot.find('/', slash + 1)) {
        std::string prefix = mountRoot.substr(0, slash);
        if (!prefix.empty() && mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)
            return MountRootLock::Unavailable;
        if (slash == std::string::npos) break;
    }
    int fd = open(mountRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return MountRootLock::Unavailable;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return MountRootLock::Held;  // fd kept on purpose
    int error = errno;
    close(fd);
    return error == EWOULDBLOCK ? MountRootLock::Taken : MountRootLock::Unavailable;
}

}  // namespace vantrel
