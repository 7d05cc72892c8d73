// The mount client's configuration view: its layout from the kit's metrics, the states of its
// controls, its messages, the save panel and what it writes back into the record.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "ConfigView.h"
#include "ConfigViewParts.h"
#include "TempDir.h"
#include "kits/Box.h"
#include "kits/Button.h"
#include "kits/CheckBox.h"
#include "kits/FilePanel.h"
#include "kits/Message.h"
#include "kits/Path.h"
#include "kits/TextControl.h"
#include "kits/Window.h"

namespace {

void SetRecord(CONFIG_VAR* record, bool debug, const char* debugFile, const char* mountPoint) {
    memset(record, 0, sizeof(*record));
    record->debug = debug ? 1 : 0;
    strcpy(record->debugFile, debugFile);
    strcpy(record->mountPoint, mountPoint);
}

// Waits until the window has handled everything sent to it before: a synchronous message
// that nobody answers comes back as B_NO_REPLY once the window got to it.
void Settle(BWindow* window) {
    BMessage ping('ping'), reply;
    ASSERT_EQ(BMessenger(nullptr, window).SendMessage(&ping, &reply), B_OK);
    EXPECT_EQ(reply.what, B_NO_REPLY);
}

class ConfigViewTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(root.empty());
        SetRecord(&record, false, "/var/log/rfsv-client.log", "/mnt/psion");
    }

    // A view in a running window; the window is quit (and the view destroyed) by the test.
    AddOnConfigView* ShowView(BWindow** window) {
        *window = new BWindow(BRect(0, 0, 399, 299), "settings", B_TITLED_WINDOW, 0);
        auto* view = new AddOnConfigView(BRect(0, 0, 399, 299), &record);
        (*window)->AddChild(view);
        (*window)->Show();
        return view;
    }

    TempDir dir{"tavro-config"};
    const std::string root = dir.path();
    CONFIG_VAR record;
};

}  // namespace

TEST_F(ConfigViewTest, LayoutFollowsTheFontMetrics) {
    // A frame away from the origin: the view lays its children out from its frame.
    const BRect frame(20, 10, 419, 309);
    AddOnConfigView view(frame, &record);
    Parts parts(&view);
    ASSERT_TRUE(parts.Complete());

    font_height metrics;
    be_plain_font->GetHeight(&metrics);
    const float fontHeight = std::ceil(metrics.ascent + metrics.descent + metrics.leading);
    const float lineHeight = metrics.ascent + metrics.descent + metrics.leading + 1;
    const float textHeight = fontHeight + 6;     // a text control's height
    const float buttonHeight = fontHeight + 10;  // a button's preferred height
    const float buttonWidth = std::ceil(be_plain_font->StringWidth("Debugfile:")) + 24;

    EXPECT_STREQ(view.Name(), "RfsvClientConfig");
    EXPECT_EQ(view.Frame(), frame);
    EXPECT_EQ(view.ResizingMode(), 0x1234u);
    EXPECT_EQ(view.Flags(), 0x20000000u);
    EXPECT_EQ(view.ViewColor(), ui_color(B_PANEL_BACKGROUND_COLOR));

    const BRect mountPoint(frame.left + 5, frame.top + 5, frame.right - 5,
                           frame.top + 5 + textHeight);
    EXPECT_EQ(parts.mountPoint->Parent(), &view);
    EXPECT_EQ(parts.mountPoint->Frame(), mountPoint);
    EXPECT_STREQ(parts.mountPoint->Label(), "Mountpoint:");
    EXPECT_EQ(parts.mountPoint->Divider(), be_plain_font->StringWidth("Mountpoint: "));
    EXPECT_EQ(parts.mountPoint->Message(), nullptr);
    EXPECT_EQ(parts.mountPoint->ResizingMode(), 0x1214u);
    EXPECT_EQ(parts.mountPoint->Flags(), 0x22000000u);

    const BRect button(5, lineHeight + 5, 5 + buttonWidth, lineHeight + 5 + buttonHeight);
    const BRect box(frame.left + 5, mountPoint.bottom + 5, frame.right - 5,
                    mountPoint.bottom + 5 + button.bottom + 5);
    EXPECT_EQ(parts.box->Parent(), &view);
    EXPECT_EQ(parts.box->Frame(), box);
    EXPECT_EQ(parts.box->Border(), B_FANCY_BORDER);
    EXPECT_EQ(parts.box->ResizingMode(), 0x1214u);
    EXPECT_EQ(parts.box->Flags(), 0x2C000000u);

    EXPECT_EQ(parts.box->LabelView(), parts.check);
    EXPECT_STREQ(parts.check->Label(), "Write to debugfile");
    EXPECT_EQ(parts.check->Command(), 'aodb');
    EXPECT_EQ(parts.check->ResizingMode(), 0x1212u);

    EXPECT_EQ(parts.button->Parent(), parts.box);
    EXPECT_EQ(parts.button->Frame(), button);
    EXPECT_STREQ(parts.button->Label(), "Debugfile:");
    EXPECT_EQ(parts.button->Command(), 'aofs');

    // The field starts at the button's width plus 5 and is centred on the button.
    const float fieldTop = button.top + (buttonHeight - textHeight) / 2;
    EXPECT_EQ(parts.debugFile->Parent(), parts.box);
    EXPECT_EQ(parts.debugFile->Frame(),
              BRect(buttonWidth + 5, fieldTop, box.Width() - 5, fieldTop + textHeight));
    EXPECT_STREQ(parts.debugFile->Label(), "");
    EXPECT_EQ(parts.debugFile->Divider(), 0);
    EXPECT_EQ(parts.debugFile->Message(), nullptr);
    EXPECT_EQ(parts.debugFile->ResizingMode(), 0x1214u);

    float width, height;
    view.GetPreferredSize(&width, &height);
    EXPECT_EQ(width, be_plain_font->StringWidth("WWWWWWWWWW/WWWWWWWWWW/WWWWWWWWWW"));
    EXPECT_EQ(height, box.bottom + 5);
    // The same figures by hand for be_plain_font: 30 W of 9 and two "/" of 3; a 20-high text
    // control, a 15-high line, a 24-high button.
    EXPECT_EQ(width, 276);
    EXPECT_EQ(height, 10 + 5 + 20 + 5 + (15 + 5 + 24) + 5 + 5);
}

TEST_F(ConfigViewTest, ControlsShowTheRecord) {
    {
        AddOnConfigView view(BRect(0, 0, 399, 299), &record);
        Parts parts(&view);
        ASSERT_TRUE(parts.Complete());
        EXPECT_EQ(parts.check->Value(), B_CONTROL_OFF);
        EXPECT_FALSE(parts.button->IsEnabled());
        EXPECT_FALSE(parts.debugFile->IsEnabled());
        EXPECT_TRUE(parts.mountPoint->IsEnabled());
        EXPECT_STREQ(parts.mountPoint->Text(), "/mnt/psion");
        EXPECT_STREQ(parts.debugFile->Text(), "/var/log/rfsv-client.log");
    }
    SetRecord(&record, true, "/tmp/d.log", "/media/psion");
    AddOnConfigView view(BRect(0, 0, 399, 299), &record);
    Parts parts(&view);
    EXPECT_EQ(parts.check->Value(), B_CONTROL_ON);
    EXPECT_TRUE(parts.button->IsEnabled());
    EXPECT_TRUE(parts.debugFile->IsEnabled());
    EXPECT_STREQ(parts.mountPoint->Text(), "/media/psion");
    EXPECT_STREQ(parts.debugFile->Text(), "/tmp/d.log");
}

TEST_F(ConfigViewTest, TheDebugSwitchGoesIntoTheRecordAtOnce) {
    AddOnConfigView view(BRect(0, 0, 399, 299), &record);
    Parts parts(&view);

    // The switch's messages in turn: its value (none: a message without one, which changes
    // nothing), then the record's debug flag and whether the file's controls are enabled. Only 1
    // switches logging on; any value but 0 enables the file's controls.
    struct Step {
        std::optional<int32> value;
        int32 debug;
        bool enabled;
    };
    for (const Step& step : {Step{1, 1, true}, Step{std::nullopt, 1, true}, Step{0, 0, false},
                             Step{std::nullopt, 0, false}, Step{2, 0, true}}) {
        BMessage message('aodb');
        if (step.value) message.AddInt32("be:value", *step.value);
        view.MessageReceived(&message);
        std::string value = step.value ? std::to_string(*step.value) : "none";
        EXPECT_EQ(record.debug, step.debug) << "value " << value;
        EXPECT_EQ(parts.button->IsEnabled(), step.enabled) << "value " << value;
        EXPECT_EQ(parts.debugFile->IsEnabled(), step.enabled) << "value " << value;
    }

    // Other messages are dropped.
    BMessage unknown('what');
    unknown.AddInt32("be:value", 1);
    view.MessageReceived(&unknown);
    EXPECT_EQ(record.debug, 0);
}

TEST_F(ConfigViewTest, TickingTheBoxInAWindowReachesTheView) {
    BWindow* window;
    AddOnConfigView* view = ShowView(&window);
    ASSERT_TRUE(window->Lock());
    Parts parts(view);
    // Attached, every control reports to the view.
    EXPECT_EQ(parts.check->Target(), view);
    EXPECT_EQ(parts.button->Target(), view);
    EXPECT_EQ(parts.debugFile->Target(), view);
    EXPECT_EQ(parts.mountPoint->Target(), view);
    parts.check->SetValue(B_CONTROL_ON);
    ASSERT_EQ(parts.check->Invoke(), B_OK);
    window->Unlock();
    Settle(window);
    EXPECT_EQ(record.debug, 1);
    ASSERT_TRUE(window->Lock());
    EXPECT_TRUE(parts.button->IsEnabled());
    window->Unlock();
    window->Quit();
}

TEST_F(ConfigViewTest, TheSavePanelPutsItsChoiceIntoTheField) {
    std::filesystem::create_directories(root + "/logs");
    std::filesystem::create_directories(root + "/chosen");
    std::string old = root + "/logs/old.log";
    SetRecord(&record, true, old.c_str(), "/mnt/psion");
    BWindow* window;
    AddOnConfigView* view = ShowView(&window);
    ASSERT_TRUE(window->Lock());
    Parts parts(view);
    // The panel opens by the record's file, not by what the field holds now.
    parts.debugFile->SetText("/elsewhere/typed.log");
    ASSERT_EQ(parts.button->Invoke(), B_OK);
    ASSERT_EQ(parts.button->Invoke(), B_OK);  // a second press replaces the first panel
    window->Unlock();
    Settle(window);

    ASSERT_TRUE(window->Lock());
    std::vector<BFilePanel*> panels = BFilePanel::ShowingPanels();
    ASSERT_EQ(panels.size(), 1u);
    BFilePanel* panel = panels[0];
    EXPECT_EQ(panel->PanelMode(), B_SAVE_PANEL);
    EXPECT_EQ(panel->NodeFlavors(), static_cast<uint32>(B_FILE_NODE));
    EXPECT_TRUE(panel->IsModal());
    EXPECT_STREQ(panel->SaveText(), "rfsv-client.log");
    entry_ref directory;
    panel->GetPanelDirectory(&directory);
    EXPECT_EQ(std::string(BPath(&directory).Path()), root + "/logs");
    EXPECT_EQ(panel->Messenger(), BMessenger(view));

    // The user picks another folder and saves.
    panel->SetPanelDirectory((root + "/chosen").c_str());
    ASSERT_EQ(panel->Save("new.log"), B_OK);
    window->Unlock();
    Settle(window);

    ASSERT_TRUE(window->Lock());
    EXPECT_TRUE(BFilePanel::ShowingPanels().empty());
    EXPECT_EQ(std::string(parts.debugFile->Text()), root + "/chosen/new.log");
    // The record follows only when the view goes.
    EXPECT_EQ(std::string(record.debugFile), old);
    window->Unlock();
    window->Quit();
    EXPECT_EQ(std::string(record.debugFile), root + "/chosen/new.log");
}

TEST_F(ConfigViewTest, ASaveWithoutDirectoryOrNameChangesNothing) {
    AddOnConfigView view(BRect(0, 0, 399, 299), &record);
    Parts parts(&view);
    BEntry entry(root.c_str());
    entry_ref directory;
    ASSERT_EQ(entry.GetRef(&directory), B_OK);

    BMessage noName('SAVE');
    noName.AddRef("directory", &directory);
    view.MessageReceived(&noName);
    BMessage noDirectory('SAVE');
    noDirectory.AddString("name", "x.log");
    view.MessageReceived(&noDirectory);
    EXPECT_STREQ(parts.debugFile->Text(), "/var/log/rfsv-client.log");

    // A folder removed since the panel showed it leaves the field alone as well.
    std::filesystem::create_directories(root + "/gone");
    BEntry goneEntry((root + "/gone").c_str());
    entry_ref gone;
    ASSERT_EQ(goneEntry.GetRef(&gone), B_OK);
    std::filesystem::remove(root + "/gone");
    BMessage stale('SAVE');
    stale.AddRef("directory", &gone);
    stale.AddString("name", "x.log");
    view.MessageReceived(&stale);
    EXPECT_STREQ(parts.debugFile->Text(), "/var/log/rfsv-client.log");

    BMessage complete('SAVE');
    complete.AddRef("directory", &directory);
    complete.AddString("name", "x.log");
    view.MessageReceived(&complete);
    EXPECT_EQ(std::string(parts.debugFile->Text()), root + "/x.log");
}

TEST_F(ConfigViewTest, DestroyingTheViewWritesTheTextsBack) {
    struct Case {
        std::string mountPoint;
        std::string stored;
    };
    const Case cases[] = {
        {"/mnt/psion/", "/mnt/psion"},
        {"/mnt/psion", "/mnt/psion"},
        {"/", ""},
        {"/a//", "/a/"},  // only one "/" goes
        {"", ""},
    };
    for (const Case& c : cases) {
        auto* view = new AddOnConfigView(BRect(0, 0, 399, 299), &record);
        Parts parts(view);
        parts.mountPoint->SetText(c.mountPoint.c_str());
        parts.debugFile->SetText("/tmp/other.log");
        EXPECT_STREQ(record.mountPoint, "/mnt/psion");  // not before the view goes
        delete view;
        EXPECT_EQ(std::string(record.mountPoint), c.stored) << c.mountPoint;
        EXPECT_STREQ(record.debugFile, "/tmp/other.log");
        strcpy(record.mountPoint, "/mnt/psion");
    }
}

TEST_F(ConfigViewTest, TextsTooLongForTheRecordAreCutSafely) {
    // Guard bytes behind the record catch a write past its end.
    struct {
        CONFIG_VAR record;
        char guard[64];
    } padded;
    SetRecord(&padded.record, false, "/x", "/y");
    memset(padded.guard, 0x5A, sizeof(padded.guard));

    auto* view = new AddOnConfigView(BRect(0, 0, 399, 299), &padded.record);
    Parts parts(view);
    const std::string longMount = "/" + std::string(299, 'm') + "/";
    // 254 ASCII bytes, then a two-byte character that would straddle the 255-byte limit.
    const std::string longFile = "/" + std::string(253, 'f') + "\xC3\xA9" + "tail";
    parts.mountPoint->SetText(longMount.c_str());
    parts.debugFile->SetText(longFile.c_str());
    delete view;

    EXPECT_EQ(std::string(padded.record.mountPoint), "/" + std::string(254, 'm'));
    EXPECT_EQ(std::string(padded.record.debugFile), "/" + std::string(253, 'f'));
    for (char byte : padded.guard) ASSERT_EQ(byte, 0x5A);

    // A cut that ends in "/" still loses that one "/".
    SetRecord(&padded.record, false, "/x", "/y");
    view = new AddOnConfigView(BRect(0, 0, 399, 299), &padded.record);
    Parts again(view);
    const std::string slashAtCut = "/" + std::string(253, 'm') + "/" + "more";
    again.mountPoint->SetText(slashAtCut.c_str());
    delete view;
    EXPECT_EQ(std::string(padded.record.mountPoint), "/" + std::string(253, 'm'));
}

TEST_F(ConfigViewTest, ARecordWithoutTerminatorsIsNotReadPastItsFields) {
    memset(&record, 'z', sizeof(record));
    record.debug = 0;
    AddOnConfigView view(BRect(0, 0, 399, 299), &record);
    Parts parts(&view);
    EXPECT_EQ(std::string(parts.mountPoint->Text()), std::string(256, 'z'));
    EXPECT_EQ(std::string(parts.debugFile->Text()), std::string(256, 'z'));
}

TEST_F(ConfigViewTest, PreferredSizeIsTheSameBeforeAndAfterAttaching) {
    auto* view = new AddOnConfigView(BRect(0, 0, 99, 49), &record);
    float widthBefore, heightBefore;
    view->GetPreferredSize(&widthBefore, &heightBefore);
    BWindow* window = new BWindow(BRect(0, 0, 499, 399), "settings", B_TITLED_WINDOW, 0);
    window->AddChild(view);
    float widthAfter, heightAfter;
    view->GetPreferredSize(&widthAfter, &heightAfter);
    EXPECT_EQ(widthAfter, widthBefore);
    EXPECT_EQ(heightAfter, heightBefore);
    view->ResizeToPreferred();
    EXPECT_EQ(view->Bounds(), BRect(0, 0, widthBefore, heightBefore));
    view->GetPreferredSize(&widthAfter, &heightAfter);
    EXPECT_EQ(heightAfter, heightBefore);
    window->Quit();
}
