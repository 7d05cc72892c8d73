// A handheld's folders keep the time they were given when entries come and go in them (as on
// its FAT media); host folders would not, so while one of these lives around a change to
// `entryPath`, the time of the folder that holds it is put back afterwards.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <string>

namespace handheld {

class KeepFolderTime {
public:
    explicit KeepFolderTime(const std::string& entryPath)
        : fFolder(entryPath.substr(0, entryPath.rfind('/'))) {
        fKept = stat(fFolder.c_str(), &fBefore) == 0;
    }
    ~KeepFolderTime() {
        if (!fKept) return;
        timespec times[2] = {fBefore.st_atim, fBefore.st_mtim};
        (void)utimensat(AT_FDCWD, fFolder.c_str(), times, AT_SYMLINK_NOFOLLOW);
    }
    KeepFolderTime(const KeepFolderTime&) = delete;
    KeepFolderTime& operator=(const KeepFolderTime&) = delete;

private:
    std::string fFolder;
    struct stat fBefore;
    bool fKept = false;
};

}  // namespace handheld
