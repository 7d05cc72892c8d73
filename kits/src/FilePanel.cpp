#include "kits/FilePanel.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>

#include "kits/Application.h"
#include "kits/Directory.h"
#include "kits/Message.h"
#include "kits/Path.h"

namespace {

std::mutex gShowingLock;
std::vector<BFilePanel*> gShowing;  // guarded by gShowingLock

entry_ref RefOfDirectory(const char* path) {
    entry_ref ref;
    BDirectory directory(path);
    BEntry entry;
    if (directory.GetEntry(&entry) == B_OK) (void)entry.GetRef(&ref);
    return ref;
}

}  // namespace

BFilePanel::BFilePanel(file_panel_mode mode, BMessenger* target, const entry_ref* directory,
                       uint32 nodeFlavors, bool allowMultipleSelection, BMessage* message,
                       BRefFilter* filter, bool modal, bool hideWhenDone)
    : fMode(mode),
      fTarget(target != nullptr ? *target : BMessenger()),
      fNodeFlavors(nodeFlavors),
      fMultipleSelection(allowMultipleSelection),
      fMessage(message != nullptr ? new BMessage(*message) : nullptr),
      fFilter(filter),
      fModal(modal),
      fHideWhenDone(hideWhenDone),
      fShowing(false) {
    const char* home = getenv("HOME");
    fDirectory = RefOfDirectory(home != nullptr && home[0] != '\0' ? home : "/");
    if (directory != nullptr) SetPanelDirectory(directory);
}

BFilePanel::~BFilePanel() {
    Hide();
    delete fMessage;
}

void BFilePanel::Show() {
    std::lock_guard guard(gShowingLock);
    if (fShowing) return;
    fShowing = true;
    gShowing.push_back(this);
}

void BFilePanel::Hide() {
    std::lock_guard guard(gShowingLock);
    if (!fShowing) return;
    fShowing = false;
    gShowing.erase(std::find(gShowing.begin(), gShowing.end(), this));
}

bool BFilePanel::IsShowing() const {
    std::lock_guard guard(gShowingLock);
    return fShowing;
}

void BFilePanel::SetTarget(BMessenger target) { fTarget = target; }

BMessenger BFilePanel::Messenger() const { return fTarget; }

void BFilePanel::SetMessage(BMessage* message) {
    delete fMessage;
    fMessage = message != nullptr ? new BMessage(*message) : nullptr;
}

void BFilePanel::SetSaveText(const char* text) { fSaveText = text != nullptr ? text : ""; }

const char* BFilePanel::SaveText() const { return fSaveText.c_str(); }

file_panel_mode BFilePanel::PanelMode() const { return fMode; }

uint32 BFilePanel::NodeFlavors() const { return fNodeFlavors; }

bool BFilePanel::IsModal() const { return fModal; }

bool BFilePanel::HidesWhenDone() const { return fHideWhenDone; }

void BFilePanel::SetPanelDirectory(const BEntry* entry) {
    BDirectory directory(entry);
    if (directory.InitCheck() == B_OK) fDirectory = RefOfDirectory(directory.PathName());
}

void BFilePanel::SetPanelDirectory(const BDirectory* directory) {
    if (directory != nullptr && directory->InitCheck() == B_OK)
        fDirectory = RefOfDirectory(directory->PathName());
}

void BFilePanel::SetPanelDirectory(const entry_ref* ref) {
    BDirectory directory(ref);
    SetPanelDirectory(&directory);
}

void BFilePanel::SetPanelDirectory(const char* path) {
    BDirectory directory(path);
    SetPanelDirectory(&directory);
}

void BFilePanel::GetPanelDirectory(entry_ref* ref) const {
    if (ref != nullptr) *ref = fDirectory;
}

status_t BFilePanel::Save(const char* name) {
    if (fMode != B_SAVE_PANEL || !IsShowing()) return B_NOT_ALLOWED;
    if (name == nullptr || name[0] == '\0') return B_BAD_VALUE;
    BMessage message(B_SAVE_REQUESTED);
    if (fMessage != nullptr) message = *fMessage;
    message.AddRef("directory", &fDirectory);
    message.AddString("name", name);
    if (fHideWhenDone) Hide();
    return _Send(&message);
}

status_t BFilePanel::Cancel() {
    if (!IsShowing()) return B_NOT_ALLOWED;
    BMessage message(B_CANCEL);
    message.AddInt32("old_what",
                     static_cast<int32>(fMessage != nullptr ? fMessage->what : B_SAVE_REQUESTED));
    Hide();
    return _Send(&message);
}

// The receiver may delete the panel as soon as the message is out, so nothing of the panel
// is touched after sending.
status_t BFilePanel::_Send(BMessage* message) {
    BMessenger target = fTarget.IsValid() ? fTarget : be_app_messenger;
    return target.SendMessage(message);
}

std::vector<BFilePanel*> BFilePanel::ShowingPanels() {
    std::lock_guard guard(gShowingLock);
    return gShowing;
}
