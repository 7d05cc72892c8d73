// AddOnConfigView: the settings panel of the mount client. It edits the configuration record:
// the debug switch goes into the record as soon as the check box changes, the mount root and
// the debug file when the view is destroyed.
#pragma once

#include "ConfigVar.h"
#include "kits/View.h"

class BButton;
class BCheckBox;
class BFilePanel;
class BMessage;
class BTextControl;

// Message codes of the view's controls and of its save panel.
enum : uint32 {
    kDebugToggled = 'aodb',     // the check box; int32 "be:value"
    kChooseDebugFile = 'aofs',  // the button
    kDebugFileSaved = 'SAVE',   // the save panel; entry_ref "directory", string "name"
};

class AddOnConfigView : public BView {
public:
    AddOnConfigView(BRect frame, CONFIG_VAR* config);
    virtual ~AddOnConfigView();

    virtual void MessageReceived(BMessage* message) override;
    virtual void AttachedToWindow() override;
    virtual void GetPreferredSize(float* width, float* height) override;
    virtual void ResizeToPreferred() override;

private:
    void _SetDebugFileEnabled(bool enabled);

    BCheckBox* debugCheck;
    BTextControl* mountPointText;
    BTextControl* debugFileText;
    BButton* debugFileButton;
    BFilePanel* filePanel;
    float preferredWidth;
    float preferredHeight;
    CONFIG_VAR* config;
};
