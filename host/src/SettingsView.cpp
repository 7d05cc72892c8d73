#include "host/SettingsView.h"

#include <memory>

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
        if (change.key != "debug" || !ParseSwitchWord(change.value, on)) continue;
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
        if (status != B_OK || change.key == "debug") continue;
        BTextControl* field = change.key == "mount-root" ? controls.mountPoint : controls.debugFile;
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

}  // namespace vantrel
