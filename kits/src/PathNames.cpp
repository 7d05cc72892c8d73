#include "PathNames.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "kits/StorageDefs.h"
#include "platform/Errors.h"

namespace kits_private {

namespace {

status_t RealPath(const std::string& path, std::string* resolved) {
    char* real = realpath(path.c_str(), nullptr);
    if (real == nullptr) return StatusFromErrno(errno);
    *resolved = real;
    free(real);
    return B_OK;
}

}  // namespace

std::string CurrentDirectory() {
    char buffer[PATH_MAX];
    if (getcwd(buffer, sizeof(buffer)) == nullptr) return "/";
    return buffer;
}

status_t StatusFromErrno(int error) {
    switch (error) {
        case ENOENT:
            return B_ENTRY_NOT_FOUND;
        case ENOTDIR:
            return B_NOT_A_DIRECTORY;
        case ENAMETOOLONG:
            return B_NAME_TOO_LONG;
        case ELOOP:
            return B_LINK_LIMIT;
        case EACCES:
        case EPERM:
            return B_PERMISSION_DENIED;
        case ENOMEM:
            return B_NO_MEMORY;
        default:
            return B_ERROR;
    }
}

status_t ResolveEntryPath(const std::string& base, const char* path, bool traverse,
                          std::string* resolved) {
    if (path == nullptr || path[0] == '\0') return B_BAD_VALUE;
    std::string full = path[0] == '/' ? std::string(path) : base + "/" + path;
    if (full.size() >= B_PATH_NAME_LENGTH) return B_NAME_TOO_LONG;

    // Split off the leaf; trailing and doubled "/" mean nothing.
    while (full.size() > 1 && full.back() == '/') full.pop_back();
    size_t slash = full.rfind('/');
    std::string directory = full.substr(0, slash);
    std::string leaf = full.substr(slash + 1);
    if (directory.empty()) directory = "/";

    std::string result;
    if (leaf.empty() || leaf == "." || leaf == "..") {
        // The entry is a directory named by its relation to another: the file system knows.
        status_t status = RealPath(full, &result);
        if (status != B_OK) return status;
    } else {
        if (leaf.size() >= B_FILE_NAME_LENGTH) return B_NAME_TOO_LONG;
        std::string realDirectory;
        status_t status = RealPath(directory, &realDirectory);
        if (status != B_OK) return status;
        struct stat info;
        if (stat(realDirectory.c_str(), &info) != 0) return StatusFromErrno(errno);
        if (!S_ISDIR(info.st_mode)) return B_NOT_A_DIRECTORY;
        result = realDirectory == "/" ? "/" + leaf : realDirectory + "/" + leaf;
        if (traverse && lstat(result.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
            status = RealPath(result, &result);
            if (status != B_OK) return status;
        }
    }
    if (result.size() >= B_PATH_NAME_LENGTH) return B_NAME_TOO_LONG;
    *resolved = result;
    return B_OK;
}

bool ParentPath(const std::string& path, std::string* parent) {
    if (path.empty() || path == "/") return false;
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return false;
    *parent = slash == 0 ? "/" : path.substr(0, slash);
    return true;
}

std::string LeafOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace kits_private
