// BFilePanel: the open and save panel. Without a display the panel is a record of what it
// would show (mode, directory, save text, target) plus the user's part as calls: Save() is the
// user saving under a name in the panel's directory, Cancel() the user closing the panel.
// Tests and the host find panels on screen through ShowingPanels().
//
// A save sends the panel's message (or, without one, a B_SAVE_REQUESTED message) to the target
// (or, without a target, to the application) with the entry_ref "directory" and the string
// "name" added. A cancel sends B_CANCEL with the int32 "old_what" (the message's what).
#pragma once

#include <string>
#include <vector>

#include "kits/Entry.h"
#include "kits/Messenger.h"
#include "kits/StorageDefs.h"

class BDirectory;
class BMessage;
class BWindow;

enum file_panel_mode {
    B_OPEN_PANEL = 0,
    B_SAVE_PANEL = 1,
};

enum : uint32 {
    B_SAVE_REQUESTED = 'SAVE',
    B_REFS_RECEIVED = 'RRCV',
    B_CANCEL = '_CNC',
};

class BRefFilter {
public:
    virtual ~BRefFilter() = default;
    virtual bool Filter(const entry_ref* ref, const char* mimeType) = 0;
};

class BFilePanel {
public:
    // Takes ownership of neither target nor filter; copies message. Without a directory the
    // panel starts in the user's home directory.
    BFilePanel(file_panel_mode mode = B_OPEN_PANEL, BMessenger* target = nullptr,
               const entry_ref* directory = nullptr, uint32 nodeFlavors = 0,
               bool allowMultipleSelection = true, BMessage* message = nullptr,
               BRefFilter* filter = nullptr, bool modal = false, bool hideWhenDone = true);
    virtual ~BFilePanel();

    void Show();
    void Hide();
    bool IsShowing() const;

    void SetTarget(BMessenger target);
    BMessenger Messenger() const;
    void SetMessage(BMessage* message);  // copied
    void SetSaveText(const char* text);
    const char* SaveText() const;
    file_panel_mode PanelMode() const;
    uint32 NodeFlavors() const;
    bool IsModal() const;
    bool HidesWhenDone() const;

    // A directory that cannot be resolved leaves the panel where it was.
    void SetPanelDirectory(const BEntry* entry);
    void SetPanelDirectory(const BDirectory* directory);
    void SetPanelDirectory(const entry_ref* ref);
    void SetPanelDirectory(const char* path);
    void GetPanelDirectory(entry_ref* ref) const;

    // The user's part. Save: B_NOT_ALLOWED on an open panel or one not showing; B_BAD_VALUE
    // for an empty name; else the status of sending. Cancel: B_NOT_ALLOWED when not showing.
    status_t Save(const char* name);
    status_t Cancel();

    // The panels being shown, oldest first.
    static std::vector<BFilePanel*> ShowingPanels();

private:
    BFilePanel(const BFilePanel&) = delete;
    BFilePanel& operator=(const BFilePanel&) = delete;

    status_t _Send(BMessage* message);

    file_panel_mode fMode;
    BMessenger fTarget;
    entry_ref fDirectory;
    uint32 fNodeFlavors;
    bool fMultipleSelection;
    BMessage* fMessage;
    BRefFilter* fFilter;
    bool fModal;
    bool fHideWhenDone;
    bool fShowing;
    std::string fSaveText;
};
