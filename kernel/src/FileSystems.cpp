#include "FileSystems.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "kernel/syscalls.h"

namespace kernel {

namespace {

struct Registry {
    std::mutex lock;
    std::map<std::string, std::shared_ptr<const FileSystem>> tables;
    // Add-ons stay loaded for the life of the process: their code may still be on some
    // thread's stack, and reloading would reset their globals.
    std::map<std::string, std::shared_ptr<const FileSystem>> loaded;
    std::optional<std::string> addonPath;
};

Registry& registry() {
    static Registry* r = new Registry;
    return *r;
}

bool ValidName(const char* name) {
    if (name == nullptr || name[0] == '\0') return false;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
    // A file-system name picks a file in the add-on folders, never a path elsewhere.
    return std::strchr(name, '/') == nullptr && std::strlen(name) < B_FILE_NAME_LENGTH;
}

std::vector<std::string> SplitFolders(const std::string& path) {
    std::vector<std::string> folders;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(':', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) folders.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return folders;
}

status_t LoadAddOn(const std::string& file, const char* name,
                   std::shared_ptr<const FileSystem>* fs) {
    void* image = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (image == nullptr) {
        std::fprintf(stderr, "kernel: cannot load file system \"%s\": %s\n", name, dlerror());
        return B_NOT_AN_EXECUTABLE;
    }
    auto* version = static_cast<const int32*>(dlsym(image, "api_version"));
    auto* table = static_cast<const vnode_ops*>(dlsym(image, "fs_entry"));
    if (version == nullptr || table == nullptr) {
        std::fprintf(stderr, "kernel: file system \"%s\" lacks fs_entry or api_version\n", name);
        dlclose(image);
        return B_NOT_AN_EXECUTABLE;
    }
    if (*version != B_CURRENT_FS_API_VERSION) {
        std::fprintf(stderr, "kernel: file system \"%s\" has api_version %d, not %d\n", name,
                     static_cast<int>(*version), B_CURRENT_FS_API_VERSION);
        dlclose(image);
        return B_MISMATCHED_VALUES;
    }
    auto loaded = std::make_shared<FileSystem>();
    loaded->name = name;
    loaded->ops = *table;
    *fs = std::move(loaded);
    return B_OK;
}

}  // namespace

status_t FindFileSystem(const char* name, std::shared_ptr<const FileSystem>* fs) {
    if (!ValidName(name)) return B_BAD_VALUE;
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    if (auto it = r.tables.find(name); it != r.tables.end()) {
        *fs = it->second;
        return B_OK;
    }
    if (auto it = r.loaded.find(name); it != r.loaded.end()) {
        *fs = it->second;
        return B_OK;
    }
    std::string path;
    if (r.addonPath) {
        path = *r.addonPath;
    } else if (const char* env = std::getenv("TAVRO_FS_ADDON_PATH")) {
        path = env;
    }
    for (const std::string& folder : SplitFolders(path)) {
        std::string file = folder + "/" + name + ".so";
        if (access(file.c_str(), F_OK) != 0) continue;
        status_t status = LoadAddOn(file, name, fs);
        if (status == B_OK) r.loaded[name] = *fs;
        return status;
    }
    return B_NAME_NOT_FOUND;
}

}  // namespace kernel

using namespace kernel;

extern "C" void kernel_set_addon_path(const char* folders) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    if (folders == nullptr) {
        r.addonPath.reset();
    } else {
        r.addonPath = folders;
    }
}

extern "C" status_t kernel_register_fs(const char* name, const vnode_ops* ops, int32 api_version) {
    if (!ValidName(name) || ops == nullptr) return B_BAD_VALUE;
    if (api_version != B_CURRENT_FS_API_VERSION) return B_MISMATCHED_VALUES;
    auto fs = std::make_shared<FileSystem>();
    fs->name = name;
    fs->ops = *ops;
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    if (r.tables.count(name) != 0) return B_NAME_IN_USE;
    r.tables.emplace(name, std::move(fs));
    return B_OK;
}

extern "C" status_t kernel_unregister_fs(const char* name) {
    if (name == nullptr) return B_BAD_VALUE;
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    auto it = r.tables.find(name);
    if (it == r.tables.end()) return B_NAME_NOT_FOUND;
    // Mounted volumes hold the table too.
    if (it->second.use_count() > 1) return B_BUSY;
    r.tables.erase(it);
    return B_OK;
}
