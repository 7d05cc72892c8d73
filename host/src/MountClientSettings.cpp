#include "host/MountClientSettings.h"

#include <fstream>
#include <memory>
#include <sstream>

#include "host/Settings.h"
#include "kits/CheckBox.h"
#include "kits/Message.h"
#include "kits/Messenger.h"
#include "kits/TextControl.h"
#include "kits/Window.h"

namespace vantrel {

namespace {

typedef BView* (*ConfigViewFunc)(BRect frame);

const BRect kFrame(0, 0, 399, 299);

// The view's controls, by the names the mount client gives them.
const char kMountPointControl[] = "Mountpoint:";
const char kDebugControl[] = "Debug";
const char kDebugFileControl[] = "DebugFile:";

struct Controls {
    BTextControl* mountPoint;
    BCheckBox* debug;
    BTextControl* debugFile;
};

Controls ControlsOf(BView* view) {
    return {dynamic_cast<BTextControl*>(view->FindView(kMountPointControl)),
            dynamic_cast<BCheckBox*>(view->FindView(kDebugControl)),
            dynamic_cast<BTextControl*>(view->FindView(kDebugFileControl))};
}

BView* MakeView(const AddOn& addOn, std::string& error) {
    auto configView = reinterpret_cast<ConfigViewFunc>(addOn.ConfigViewSymbol());
    if (configView == nullptr) {
        error = addOn.Name() + " has no settings view";
        return nullptr;
    }
    BView* view = configView(kFrame);
    if (view == nullptr) error = addOn.Name() + " made no settings view";
    return view;
}

// Returns once the window has handled everything sent to it before: nobody answers the
// message, so the reply B_NO_REPLY comes when the window got to it.
void WaitUntilHandled(BWindow* window) {
    BMessage ping('ping'), reply;
    (void)BMessenger(nullptr, window).SendMessage(&ping, &reply);
}

}  // namespace

std::string CheckMountRoot(const std::string& root) {
    if (root.empty()) return "the mount root is empty";
    if (root[0] != '/') return "the mount root must be an absolute path: " + Escape(root);
    if (root.find_first_not_of('/') == std::string::npos)
        return "the mount root cannot be \"/\": the drives would be mounted over the system";
    if (root.size() > kMaxSettingPath)
        return "the mount root is longer than " + std::to_string(kMaxSettingPath) + " bytes";
    return "";
}

std::string CheckDebugFile(const std::string& path) {
    if (path.empty()) return "";
    if (path[0] != '/') return "the debug file must be an absolute path: " + Escape(path);
    if (path.size() > kMaxSettingPath)
        return "the debug file's path is longer than " + std::to_string(kMaxSettingPath) + " bytes";
    return "";
}

std::string CheckSetting(const std::string& key, const std::string& value) {
    bool on;
    if (key == kDebugKey)
        return ParseSwitchWord(value, on) ? "" : "debug is on or off, not " + Escape(value);
    if (key == kMountRootKey) return CheckMountRoot(value);
    if (key == kDebugFileKey) return CheckDebugFile(value);
    return "unknown setting " + Escape(key) + " (" + kMountRootKey + ", " + kDebugKey + ", " +
           kDebugFileKey + ")";
}

bool HasSettings(const AddOn& addOn) {
    ClientSettings settings;
    std::string error;
    return ReadThroughConfigView(addOn, settings, error) == B_OK;
}

status_t ReadThroughConfigView(const AddOn& addOn, ClientSettings& settings, std::string& error) {
    // Looked at only, never shown: no window is needed. Deleting it writes back what it shows,
    // which is what the record holds.
    std::unique_ptr<BView> view(MakeView(addOn, error));
    if (!view) return B_BAD_VALUE;
    Controls controls = ControlsOf(view.get());
    if (controls.mountPoint == nullptr || controls.debug == nullptr ||
        controls.debugFile == nullptr) {
        error = "the settings view of " + addOn.Name() + " lacks a setting";
        return B_BAD_VALUE;
    }
    settings.debug = controls.debug->Value() == B_CONTROL_ON;
    settings.debugFile = controls.debugFile->Text();
    settings.mountRoot = controls.mountPoint->Text();
    return B_OK;
}

status_t ApplyThroughConfigView(const AddOn& addOn, const std::vector<SettingChange>& changes,
                                std::string& error) {
    BView* view = MakeView(addOn, error);
    if (view == nullptr) return B_BAD_VALUE;
    BWindow* window = new BWindow(kFrame, "Settings", B_TITLED_WINDOW, B_NOT_RESIZABLE);
    window->AddChild(view);
    window->Show();

    status_t status = B_OK;
    window->Lock();
    Controls controls = ControlsOf(view);
    // The switch first: it is what enables the debug file's field.
    for (const SettingChange& change : changes) {
        bool on;
        if (change.key != kDebugKey || !ParseSwitchWord(change.value, on)) continue;
        if (controls.debug == nullptr) {
            error = "the settings view has no debug switch";
            status = B_BAD_VALUE;
            break;
        }
        int32 value = on ? B_CONTROL_ON : B_CONTROL_OFF;
        if (controls.debug->Value() != value) {
            // A click: the box changes and tells its target.
            controls.debug->SetValue(value);
            (void)controls.debug->Invoke();
        }
    }
    for (const SettingChange& change : changes) {
        if (status != B_OK || change.key == kDebugKey) continue;
        BTextControl* field =
            change.key == kMountRootKey ? controls.mountPoint : controls.debugFile;
        if (field == nullptr) {
            error = "the settings view has no field for " + change.key;
            status = B_BAD_VALUE;
            break;
        }
        field->SetText(change.value.c_str());
    }
    window->Unlock();
    WaitUntilHandled(window);
    // Closing the window destroys the view, which writes the record.
    window->Quit();
    return status;
}

void SetConfiguredMountRoot(const AddOn& addOn, const std::string& mountRoot) {
    std::string error;
    if (addOn.ConfigViewSymbol() != nullptr)
        (void)ApplyThroughConfigView(addOn, {{kMountRootKey, mountRoot}}, error);
}

std::string DescribeSettings(const AddOn& addOn) {
    ClientSettings settings;
    std::string error;
    if (ReadThroughConfigView(addOn, settings, error) != B_OK) return "";
    std::ostringstream text;
    text << kDebugKey << "=" << (settings.debug ? "on" : "off") << "\n";
    text << kDebugFileKey << "=" << Escape(settings.debugFile) << "\n";
    text << kMountRootKey << "=" << Escape(settings.mountRoot) << "\n";
    return text.str();
}

bool SavedMountRoot(const std::string& settingsFolder) {
    if (settingsFolder.empty()) return false;
    std::ifstream in(SettingsFile(settingsFolder, kMountClientName));
    const std::string prefix = std::string(kMountRootKey) + "=";
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(prefix, 0) == 0) return true;
    return false;
}

}  // namespace vantrel
