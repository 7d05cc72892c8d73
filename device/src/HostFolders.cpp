#include "HostFolders.h"

#include <dirent.h>
#include <sys/stat.h>

namespace handheld {

namespace {

uint64 FolderBytes(const std::string& path, int depth) {
    // Deep trees are not what a handheld holds; the limit only guards against loops.
    if (depth > 32) return 0;
    uint64 total = 0;
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) return 0;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        std::string child = path + "/" + name;
        struct stat st;
        if (lstat(child.c_str(), &st) != 0) continue;
        if (S_ISREG(st.st_mode))
            total += static_cast<uint64>(st.st_size);
        else if (S_ISDIR(st.st_mode))
            total += FolderBytes(child, depth + 1);
    }
    closedir(dir);
    return total;
}

}  // namespace

uint64 FolderBytes(const std::string& path) { return FolderBytes(path, 0); }

uint32 FreeBytes(const DriveSetup& drive) {
    uint64 used = FolderBytes(drive.folder);
    return used >= drive.capacity ? 0 : static_cast<uint32>(drive.capacity - used);
}

}  // namespace handheld
