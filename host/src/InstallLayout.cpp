#include "host/InstallLayout.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace vantrel {

namespace {

bool IsFolder(const std::string& path) {
    struct stat info;
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool Absolute(const char* path) { return path != nullptr && path[0] == '/'; }

}  // namespace

std::string ExecutableFolder() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length <= 0) return "";
    std::string file(path, static_cast<size_t>(length));
    size_t slash = file.rfind('/');
    return slash == std::string::npos ? "" : file.substr(0, slash);
}

std::string DefaultAddOnFolder(const std::string& executableFolder, const std::string& kind) {
    if (executableFolder.empty()) return "";
    for (const char* layout : {"/../lib/tavro/add-ons/", "/../add-ons/"}) {
        std::string folder = executableFolder + layout + kind;
        if (IsFolder(folder)) return folder;
    }
    return "";
}

std::string DefaultMountRoot(bool root, const char* runtimeDir, const char* dataHome,
                             const char* home) {
    if (root) return "";
    if (Absolute(runtimeDir) && IsFolder(runtimeDir) && access(runtimeDir, W_OK | X_OK) == 0)
        return std::string(runtimeDir) + "/psion";
    if (Absolute(dataHome)) return std::string(dataHome) + "/psion";
    if (Absolute(home)) return std::string(home) + "/.local/share/psion";
    return "";
}

std::string UserDefaultMountRoot(const std::string& settingsFolder) {
    if (SavedMountRoot(settingsFolder)) return "";
    return DefaultMountRoot(geteuid() == 0, getenv("XDG_RUNTIME_DIR"), getenv("XDG_DATA_HOME"),
                            getenv("HOME"));
}

void ApplyInstallDefaults(HostOptions& options) {
    std::string here = ExecutableFolder();
    if (options.addOnFolder.empty() && options.addOnFiles.empty())
        options.addOnFolder = DefaultAddOnFolder(here, "clients");
    if (getenv("TAVRO_FS_ADDON_PATH") == nullptr) {
        std::string fileSystems = DefaultAddOnFolder(here, "file_systems");
        if (!fileSystems.empty()) setenv("TAVRO_FS_ADDON_PATH", fileSystems.c_str(), 1);
    }
    if (options.mountRoot.empty()) options.mountRoot = UserDefaultMountRoot(options.settingsFolder);
}

}  // namespace vantrel
