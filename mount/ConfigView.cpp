#include "ConfigView.h"

#include <cstring>
#include <string>

#include "kits/Box.h"
#include "kits/Button.h"
#include "kits/CheckBox.h"
#include "kits/Directory.h"
#include "kits/Entry.h"
#include "kits/FilePanel.h"
#include "kits/Message.h"
#include "kits/Messenger.h"
#include "kits/Path.h"
#include "kits/TextControl.h"

namespace {

const char kDebugFileSaveText[] = "rfsv-client.log";

// The record's texts are fixed arrays: never read past them, even without a terminator.
std::string RecordText(const char (&field)[CONFIG_TEXT_LENGTH]) {
    return std::string(field, strnlen(field, CONFIG_TEXT_LENGTH));
}

// Copies text into a record field, cut to what fits (255 bytes and the NUL). A cut never ends
// inside a UTF-8 sequence, so the stored text stays valid.
void StoreText(char (&field)[CONFIG_TEXT_LENGTH], const char* text) {
    size_t length = text != nullptr ? strlen(text) : 0;
    if (length > CONFIG_TEXT_LENGTH - 1) {
        length = CONFIG_TEXT_LENGTH - 1;
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
    }
    if (length > 0) memcpy(field, text, length);
    field[length] = '\0';
}

float LineHeight(const BView* view) {
    font_height metrics;
    view->GetFontHeight(&metrics);
    return metrics.ascent + metrics.descent + metrics.leading + 1;
}

}  // namespace

AddOnConfigView::AddOnConfigView(BRect frame, CONFIG_VAR* config)
    : BView(frame, "RfsvClientConfig", B_FOLLOW_ALL_SIDES, B_WILL_DRAW),
      debugCheck(nullptr),
      mountPointText(nullptr),
      debugFileText(nullptr),
      debugFileButton(nullptr),
      filePanel(nullptr),
      preferredWidth(0),
      preferredHeight(0),
      config(config) {
    SetViewColor(ui_color(B_PANEL_BACKGROUND_COLOR));

    // The mount root across the top; the control sets its own height from the font.
    BRect rect = Frame();
    rect.InsetBy(5, 5);
    std::string mountPoint = RecordText(config->mountPoint);
    mountPointText =
        new BTextControl(rect, "Mountpoint:", "Mountpoint:", mountPoint.c_str(), nullptr,
                         B_FOLLOW_LEFT_RIGHT | B_FOLLOW_TOP, B_WILL_DRAW | B_NAVIGABLE);
    mountPointText->SetDivider(be_plain_font->StringWidth("Mountpoint: "));
    AddChild(mountPointText);

    // Below it, the debug settings in a box labelled by their switch.
    rect = Frame();
    rect.InsetBy(5, 5);
    rect.top = mountPointText->Frame().bottom + 5;
    BBox* box = new BBox(rect, "Settings", B_FOLLOW_LEFT_RIGHT | B_FOLLOW_TOP,
                         B_WILL_DRAW | B_FRAME_EVENTS | B_NAVIGABLE_JUMP, B_FANCY_BORDER);
    AddChild(box);

    debugCheck = new BCheckBox(rect, "Debug", "Write to debugfile", new BMessage(kDebugToggled),
                               B_FOLLOW_LEFT | B_FOLLOW_TOP, B_WILL_DRAW | B_NAVIGABLE);
    if (config->debug) debugCheck->SetValue(B_CONTROL_ON);
    box->SetLabel(debugCheck);

    float lineHeight = LineHeight(this);
    rect = box->Bounds();
    rect.InsetBy(5, lineHeight + 5);
    debugFileButton =
        new BButton(rect, "DebugFileButton", "Debugfile:", new BMessage(kChooseDebugFile),
                    B_FOLLOW_LEFT | B_FOLLOW_TOP, B_WILL_DRAW | B_NAVIGABLE);
    debugFileButton->ResizeToPreferred();
    box->AddChild(debugFileButton);

    rect.left = debugFileButton->Bounds().right + 5;
    std::string debugFile = RecordText(config->debugFile);
    debugFileText = new BTextControl(rect, "DebugFile:", "", debugFile.c_str(), nullptr,
                                     B_FOLLOW_LEFT_RIGHT | B_FOLLOW_TOP, B_WILL_DRAW | B_NAVIGABLE);
    debugFileText->SetDivider(0);
    box->AddChild(debugFileText);
    // Centred on the button.
    debugFileText->MoveBy(
        0, (debugFileButton->Bounds().Height() - debugFileText->Bounds().Height()) / 2);

    box->ResizeTo(box->Bounds().Width(), debugFileButton->Frame().bottom + 5);

    if (!config->debug) _SetDebugFileEnabled(false);

    preferredWidth = be_plain_font->StringWidth("WWWWWWWWWW/WWWWWWWWWW/WWWWWWWWWW");
    preferredHeight = box->Frame().bottom + 5;
}

AddOnConfigView::~AddOnConfigView() {
    StoreText(config->mountPoint, mountPointText->Text());
    size_t length = strlen(config->mountPoint);
    if (length > 0 && config->mountPoint[length - 1] == '/') config->mountPoint[length - 1] = '\0';
    StoreText(config->debugFile, debugFileText->Text());
    // A panel still open would report to a view that is gone.
    delete filePanel;
}

void AddOnConfigView::MessageReceived(BMessage* message) {
    switch (message->what) {
        case kDebugToggled: {
            int32 value;
            if (message->FindInt32("be:value", &value) != B_OK) return;
            config->debug = value == 1 ? 1 : 0;
            _SetDebugFileEnabled(value != 0);
            return;
        }
        case kChooseDebugFile: {
            // The panel opens where the file of the record lies, whatever the field holds.
            BEntry entry(config->debugFile, false);
            BEntry parent;
            (void)entry.GetParent(&parent);
            delete filePanel;
            filePanel = new BFilePanel(B_SAVE_PANEL, nullptr, nullptr, B_FILE_NODE, false, nullptr,
                                       nullptr, true, true);
            filePanel->SetTarget(BMessenger(this));
            filePanel->SetSaveText(kDebugFileSaveText);
            filePanel->SetPanelDirectory(&parent);
            filePanel->Show();
            return;
        }
        case kDebugFileSaved: {
            delete filePanel;
            filePanel = nullptr;
            entry_ref directoryRef;
            const char* name;
            if (message->FindRef("directory", &directoryRef) != B_OK ||
                message->FindString("name", &name) != B_OK)
                return;
            BDirectory directory(&directoryRef);
            BEntry entry(&directory, name, false);
            BPath path;
            // A directory that has gone since leaves the field as it was.
            if (entry.GetPath(&path) != B_OK) return;
            debugFileText->SetText(path.Path());
            return;
        }
        default:
            return;
    }
}

void AddOnConfigView::AttachedToWindow() {
    debugCheck->SetTarget(this);
    debugFileButton->SetTarget(this);
    debugFileText->SetTarget(this);
    mountPointText->SetTarget(this);
}

void AddOnConfigView::GetPreferredSize(float* width, float* height) {
    if (width != nullptr) *width = preferredWidth;
    if (height != nullptr) *height = preferredHeight;
}

void AddOnConfigView::ResizeToPreferred() { ResizeTo(preferredWidth, preferredHeight); }

void AddOnConfigView::_SetDebugFileEnabled(bool enabled) {
    debugFileButton->SetEnabled(enabled);
    debugFileText->SetEnabled(enabled);
}
