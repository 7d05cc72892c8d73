#include "host/AddOn.h"

#include <dirent.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstring>

namespace vantrel {

AddOn::~AddOn() {
    if (fHandle != nullptr) dlclose(fHandle);
}

std::unique_ptr<AddOn> AddOn::Load(const std::string& path, std::string& error) {
    // Local binding keeps each add-on's globals its own; symbols of the host (the application
    // object) are still found because the host's images are global.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* text = dlerror();
        error = text != nullptr ? text : "cannot load";
        return nullptr;
    }
    std::unique_ptr<AddOn> addOn(new AddOn());
    addOn->fHandle = handle;
    addOn->fPath = path;
    size_t slash = path.rfind('/');
    addOn->fName = slash == std::string::npos ? path : path.substr(slash + 1);
    if (addOn->fName.size() > 3 && addOn->fName.compare(addOn->fName.size() - 3, 3, ".so") == 0)
        addOn->fName.resize(addOn->fName.size() - 3);

    addOn->fRunClient = reinterpret_cast<RunClientFunc>(dlsym(handle, "RunClient"));
    if (addOn->fRunClient == nullptr) {
        error = "no RunClient export";
        return nullptr;
    }
    addOn->fInitialise = reinterpret_cast<InitialiseFunc>(dlsym(handle, "Initialise"));
    addOn->fConfigView = dlsym(handle, "ConfigView");
    // The info exports are character arrays: the text is at the symbol itself.
    if (const char* text = static_cast<const char*>(dlsym(handle, "InfoVersion")))
        addOn->fInfoVersion = text;
    const char* lineNames[3] = {"InfoLine1", "InfoLine2", "InfoLine3"};
    for (int i = 0; i < 3; ++i)
        if (const char* text = static_cast<const char*>(dlsym(handle, lineNames[i])))
            addOn->fInfoLines[i] = text;
    return addOn;
}

int32 AddOn::Initialise() const { return fInitialise != nullptr ? fInitialise() : 0; }

int32 AddOn::RunClient(int32 version) const { return fRunClient(version); }

void* AddOn::Symbol(const char* name) const { return dlsym(fHandle, name); }

bool ListAddOnFiles(const std::string& folder, std::vector<std::string>* paths) {
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return false;
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name.size() > 3 && name.compare(name.size() - 3, 3, ".so") == 0) names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) paths->push_back(folder + "/" + name);
    return true;
}

}  // namespace vantrel
