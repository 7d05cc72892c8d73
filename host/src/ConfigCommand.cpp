#include "host/ConfigCommand.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>

#include "host/InstallLayout.h"
#include "host/Settings.h"

namespace vantrel {

namespace {

std::string ProgramFolder() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length <= 0) return ".";
    std::string program(path, static_cast<size_t>(length));
    return program.substr(0, program.rfind('/'));
}

std::vector<std::string> AddOnPaths(const std::string& folder,
                                    const std::vector<std::string>& files) {
    std::vector<std::string> paths;
    std::string search = folder;
    if (search.empty() && files.empty()) search = ProgramFolder() + "/../add-ons/clients";
    if (!search.empty()) (void)ListAddOnFiles(search, &paths);
    paths.insert(paths.end(), files.begin(), files.end());
    return paths;
}

}  // namespace

bool ParseSettingChanges(const std::vector<std::string>& arguments,
                         std::vector<SettingChange>& changes, std::string& error) {
    changes.clear();
    for (const std::string& argument : arguments) {
        size_t equals = argument.find('=');
        if (equals == std::string::npos) {
            error = "a setting looks like KEY=VALUE: " + Escape(argument);
            return false;
        }
        SettingChange change{argument.substr(0, equals), argument.substr(equals + 1)};
        error = CheckSetting(change.key, change.value);
        if (!error.empty()) return false;
        changes.push_back(change);
    }
    return true;
}

int RunConfigCommand(const std::vector<std::string>& arguments, const std::string& addOnFolder,
                     const std::vector<std::string>& addOnFiles,
                     const std::string& settingsFolder) {
    std::vector<SettingChange> changes;
    std::string error;
    if (!ParseSettingChanges(arguments, changes, error)) {
        fprintf(stderr, "vantrel config: %s\n", error.c_str());
        return 2;
    }
    if (settingsFolder.empty()) {
        fprintf(stderr, "vantrel config: no settings folder (set HOME or XDG_CONFIG_HOME)\n");
        return 1;
    }

    int exitCode = 0;
    bool anySettings = false;
    for (const std::string& path : AddOnPaths(addOnFolder, addOnFiles)) {
        std::unique_ptr<AddOn> addOn = AddOn::Load(path, error);
        if (!addOn) {
            fprintf(stderr, "vantrel config: skipping add-on %s: %s\n", path.c_str(),
                    error.c_str());
            continue;
        }
        if (!HasSettings(*addOn)) continue;
        anySettings = true;
        addOn->Initialise();
        std::string file = Escape(SettingsFile(settingsFolder, *addOn));
        std::vector<std::string> warnings;
        status_t status = LoadSettings(*addOn, settingsFolder, &warnings);
        for (const std::string& warning : warnings)
            fprintf(stderr, "vantrel config: %s %s\n", file.c_str(), warning.c_str());
        if (status != B_OK && status != B_ENTRY_NOT_FOUND) {
            // Saving now would put defaults over settings that are only out of reach.
            fprintf(stderr, "vantrel config: cannot read %s: %s; nothing changed\n", file.c_str(),
                    be_strerror(status));
            exitCode = 1;
            continue;
        }
        // A user other than root, with no mount root saved, sees and keeps the per-user one.
        std::string userRoot = UserDefaultMountRoot(settingsFolder);
        if (!userRoot.empty()) SetConfiguredMountRoot(*addOn, userRoot);
        if (!changes.empty()) {
            status = ApplyThroughConfigView(*addOn, changes, error);
            if (status != B_OK) {
                fprintf(stderr, "vantrel config: %s\n", error.c_str());
                exitCode = 1;
                continue;
            }
            status = SaveSettings(*addOn, settingsFolder);
            if (status != B_OK) {
                fprintf(stderr, "vantrel config: cannot write %s: %s; nothing changed\n",
                        file.c_str(), be_strerror(status));
                exitCode = 1;
                continue;
            }
        }
        printf("# %s (%s)\n%s", Escape(addOn->Name()).c_str(), file.c_str(),
               DescribeSettings(*addOn).c_str());
    }
    if (!anySettings) {
        fprintf(stderr, "vantrel config: no add-on with settings found\n");
        return 1;
    }
    return exitCode;
}

}  // namespace vantrel
