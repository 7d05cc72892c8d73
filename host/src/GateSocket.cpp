#include "GateSocket.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace vantrel::gate {

namespace {

constexpr int kBacklog = 16;

std::string Folder(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string Why(const char* what, const std::string& path) {
    return std::string(what) + " " + path + ": " + strerror(errno);
}

// The folder must be ours alone: a folder others can enter could hand our clients a socket
// of theirs.
status_t PrepareFolder(const std::string& folder, std::string& message) {
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        message = Why("cannot make", folder);
        return B_NOT_ALLOWED;
    }
    struct stat info;
    if (lstat(folder.c_str(), &info) != 0) {
        message = Why("cannot examine", folder);
        return B_NOT_ALLOWED;
    }
    if (!S_ISDIR(info.st_mode)) {
        message = folder + " is not a folder";
        return B_NOT_ALLOWED;
    }
    if (info.st_uid != geteuid()) {
        message = folder + " belongs to another user";
        return B_NOT_ALLOWED;
    }
    if ((info.st_mode & 07777) != 0700 && chmod(folder.c_str(), 0700) != 0) {
        message = Why("cannot make private", folder);
        return B_NOT_ALLOWED;
    }
    return B_OK;
}

bool MakeAddress(const std::string& path, sockaddr_un& address) {
    memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) return false;
    memcpy(address.sun_path, path.c_str(), path.size());
    return true;
}

// Someone answers at the path.
bool Answers(const sockaddr_un& address) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    bool answered = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return answered;
}

}  // namespace

std::string DefaultSocketPath() {
    if (geteuid() == 0) return "/run/tavro/gate.sock";
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') return std::string(runtime) + "/tavro/gate.sock";
    return "/tmp/tavro-" + std::to_string(geteuid()) + "/gate.sock";
}

status_t OpenListener(const std::string& path, Listener& listener, std::string& message) {
    sockaddr_un address;
    if (!MakeAddress(path, address)) {
        message = "socket path too long (at most " + std::to_string(sizeof address.sun_path - 1) +
                  " bytes): " + path;
        return B_NAME_TOO_LONG;
    }
    std::string folder = Folder(path);
    status_t status = PrepareFolder(folder, message);
    if (status != B_OK) return status;

    // The lock is the real sign of a live host: the kernel lets it go when a host dies.
    std::string lockPath = path + ".lock";
    int lockFd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lockFd < 0) {
        message = Why("cannot open", lockPath);
        return B_NOT_ALLOWED;
    }
    if (flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        close(lockFd);
        message = "another vantrel serves the gateway at " + path;
        return B_NAME_IN_USE;
    }

    struct stat info;
    if (lstat(path.c_str(), &info) == 0) {
        if (!S_ISSOCK(info.st_mode)) {
            close(lockFd);
            message = path + " exists and is not a socket; leaving it alone";
            return B_NOT_ALLOWED;
        }
        // One that still answers belongs to a host that took no lock: not ours to take.
        if (Answers(address)) {
            close(lockFd);
            message = "another vantrel serves the gateway at " + path;
            return B_NAME_IN_USE;
        }
        unlink(path.c_str());
    }

    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        close(lockFd);
        message = Why("cannot make a socket for", path);
        return B_ERROR;
    }
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        chmod(path.c_str(), 0600) != 0 || listen(fd, kBacklog) != 0 ||
        lstat(path.c_str(), &info) != 0) {
        message = Why("cannot listen at", path);
        close(fd);
        close(lockFd);
        return errno == EADDRINUSE ? B_NAME_IN_USE : B_ERROR;
    }
    listener.fd = fd;
    listener.lockFd = lockFd;
    listener.path = path;
    listener.device = info.st_dev;
    listener.inode = info.st_ino;
    return B_OK;
}

void CloseListener(Listener& listener) {
    if (listener.fd < 0) return;
    struct stat info;
    if (lstat(listener.path.c_str(), &info) == 0 && info.st_dev == listener.device &&
        info.st_ino == listener.inode)
        unlink(listener.path.c_str());
    close(listener.fd);
    close(listener.lockFd);  // the lock file stays: removing it would race a starting host
    listener.fd = -1;
    listener.lockFd = -1;
}

bool PeerOf(int fd, Peer& peer) {
    ucred credentials;
    socklen_t size = sizeof credentials;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 ||
        size != sizeof credentials)
        return false;
    peer.pid = credentials.pid;
    peer.uid = credentials.uid;
    peer.gid = credentials.gid;
    return true;
}

}  // namespace vantrel::gate
