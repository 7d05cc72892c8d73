// The headless interface kit: geometry, font metrics, the view tree and its hooks, resizing
// modes, controls and their preferred sizes, windows and the save panel.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KitTestSupport.h"
#include "kits/Box.h"
#include "kits/Button.h"
#include "kits/CheckBox.h"
#include "kits/FilePanel.h"
#include "kits/Font.h"
#include "kits/Path.h"
#include "kits/TextControl.h"
#include "kits/View.h"
#include "kits/Window.h"

TEST(Rect, CoordinatesAreInclusive) {
    BRect rect(10, 20, 109, 69);
    EXPECT_EQ(rect.Width(), 99);
    EXPECT_EQ(rect.Height(), 49);
    EXPECT_TRUE(rect.Contains(BPoint(109, 69)));
    EXPECT_FALSE(rect.Contains(BPoint(110, 69)));
    EXPECT_FALSE(BRect().IsValid());

    rect.InsetBy(5, 10);
    EXPECT_EQ(rect, BRect(15, 30, 104, 59));
    rect.OffsetTo(0, 0);
    EXPECT_EQ(rect, BRect(0, 0, 89, 29));
    rect.OffsetBy(1, 2);
    EXPECT_EQ(rect, BRect(1, 2, 90, 31));

    EXPECT_EQ(BRect(0, 0, 10, 10) & BRect(5, 5, 20, 20), BRect(5, 5, 10, 10));
    EXPECT_EQ(BRect(0, 0, 10, 10) | BRect(5, 5, 20, 20), BRect(0, 0, 20, 20));
    EXPECT_FALSE((BRect(0, 0, 10, 10) & BRect(11, 0, 20, 10)).IsValid());
    EXPECT_TRUE(BRect(0, 0, 10, 10).Intersects(BRect(10, 10, 20, 20)));
}

TEST(Font, PlainFontMetricsFollowTheDocumentedFormula) {
    // Narrow 3, wide 9, others 6 at size 12.
    EXPECT_EQ(be_plain_font->Size(), 12);
    EXPECT_EQ(be_plain_font->StringWidth("Mountpoint: "),
              9 + 6 + 6 + 6 + 3 + 6 + 6 + 3 + 6 + 3 + 3 + 3);
    EXPECT_EQ(be_plain_font->StringWidth("W/W"), 21);
    EXPECT_EQ(be_plain_font->StringWidth(""), 0);
    EXPECT_EQ(be_plain_font->StringWidth(nullptr), 0);
    // One code point, however many bytes it takes.
    EXPECT_EQ(be_plain_font->StringWidth("\xC3\xA9"), 6);
    EXPECT_EQ(be_plain_font->StringWidth("abc", 2), 12);

    font_height height;
    be_plain_font->GetHeight(&height);
    EXPECT_EQ(height.ascent, 9);
    EXPECT_EQ(height.descent, 3);
    EXPECT_EQ(height.leading, 2);

    BFont big(be_plain_font);
    big.SetSize(24);
    EXPECT_EQ(big.StringWidth("aW."), 12 + 18 + 6);
    EXPECT_EQ(be_plain_font->Size(), 12);
}

namespace {

// Notes its hooks in a shared log as "name:hook".
class HookView : public BView {
public:
    HookView(const char* name, std::vector<std::string>* log, BRect frame = BRect(0, 0, 9, 9),
             uint32 mode = B_FOLLOW_LEFT | B_FOLLOW_TOP, bool* deleted = nullptr)
        : BView(frame, name, mode, B_FRAME_EVENTS), fLog(log), fDeleted(deleted) {}
    ~HookView() override {
        if (fDeleted != nullptr) *fDeleted = true;
    }
    void AttachedToWindow() override { Note("attached"); }
    void AllAttached() override { Note("all-attached"); }
    void DetachedFromWindow() override { Note("detached"); }
    void AllDetached() override { Note("all-detached"); }
    void FrameResized(float, float) override { Note("resized"); }

private:
    void Note(const char* hook) { fLog->push_back(std::string(Name()) + ":" + hook); }
    std::vector<std::string>* fLog;
    bool* fDeleted;
};

}  // namespace

TEST(View, AttachingRunsHooksParentsFirstThenChildrenFirst) {
    std::vector<std::string> log;
    BWindow* window = new BWindow(BRect(0, 0, 199, 99), "hooks", B_TITLED_WINDOW, 0);
    auto* parent = new HookView("parent", &log);
    auto* child = new HookView("child", &log);
    parent->AddChild(child);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(parent->Window(), nullptr);

    window->AddChild(parent);
    EXPECT_EQ(log, (std::vector<std::string>{"parent:attached", "child:attached",
                                             "child:all-attached", "parent:all-attached"}));
    EXPECT_EQ(child->Window(), window);
    EXPECT_EQ(child->Looper(), window);
    EXPECT_EQ(window->FindView("child"), child);

    log.clear();
    ASSERT_TRUE(window->RemoveChild(parent));
    EXPECT_EQ(log, (std::vector<std::string>{"parent:detached", "child:detached",
                                             "child:all-detached", "parent:all-detached"}));
    EXPECT_EQ(child->Window(), nullptr);
    EXPECT_EQ(child->Looper(), nullptr);
    delete parent;
    window->Quit();
}

TEST(View, ChildrenFollowTheirResizingModes) {
    std::vector<std::string> log;
    BView parent(BRect(0, 0, 99, 99), "parent", B_FOLLOW_NONE, 0);
    auto* leftTop = new HookView("leftTop", &log, BRect(10, 10, 19, 19));
    auto* rightBottom =
        new HookView("rightBottom", &log, BRect(10, 10, 19, 19), B_FOLLOW_RIGHT | B_FOLLOW_BOTTOM);
    auto* all = new HookView("all", &log, BRect(10, 10, 89, 89), B_FOLLOW_ALL_SIDES);
    auto* centred =
        new HookView("centred", &log, BRect(40, 40, 59, 59), B_FOLLOW_H_CENTER | B_FOLLOW_V_CENTER);
    auto* wide =
        new HookView("wide", &log, BRect(10, 10, 89, 19), B_FOLLOW_LEFT_RIGHT | B_FOLLOW_TOP);
    for (BView* child :
         {(BView*)leftTop, (BView*)rightBottom, (BView*)all, (BView*)centred, (BView*)wide})
        parent.AddChild(child);

    parent.ResizeBy(20, 40);
    EXPECT_EQ(parent.Bounds(), BRect(0, 0, 119, 139));
    EXPECT_EQ(leftTop->Frame(), BRect(10, 10, 19, 19));
    EXPECT_EQ(rightBottom->Frame(), BRect(30, 50, 39, 59));
    EXPECT_EQ(all->Frame(), BRect(10, 10, 109, 129));
    EXPECT_EQ(centred->Frame(), BRect(50, 60, 69, 79));
    EXPECT_EQ(wide->Frame(), BRect(10, 10, 109, 19));
    // Frame events come from the window system: a view in no window hears none.
    EXPECT_TRUE(log.empty());

    parent.MoveTo(5, 6);
    EXPECT_EQ(parent.Frame(), BRect(5, 6, 124, 145));
    EXPECT_EQ(all->Frame(), BRect(10, 10, 109, 129));
}

TEST(View, DeletingAViewDeletesItsChildrenAndLeavesItsParent) {
    std::vector<std::string> log;
    bool childDeleted = false;
    BView parent(BRect(0, 0, 99, 99), "parent", B_FOLLOW_NONE, 0);
    auto* middle = new BView(BRect(0, 0, 9, 9), "middle", B_FOLLOW_NONE, 0);
    middle->AddChild(new HookView("child", &log, BRect(0, 0, 1, 1), B_FOLLOW_NONE, &childDeleted));
    parent.AddChild(middle);
    ASSERT_EQ(parent.CountChildren(), 1);
    delete middle;
    EXPECT_TRUE(childDeleted);
    EXPECT_EQ(parent.CountChildren(), 0);
    EXPECT_EQ(parent.FindView("child"), nullptr);
}

TEST(Window, QuittingDeletesTheViewsWithTheirHooksRun) {
    std::vector<std::string> log;
    bool deleted = false;
    BWindow* window = new BWindow(BRect(0, 0, 99, 99), "owner", B_TITLED_WINDOW, 0);
    window->AddChild(new HookView("view", &log, BRect(0, 0, 9, 9), B_FOLLOW_NONE, &deleted));
    window->Show();
    EXPECT_FALSE(window->IsHidden());
    window->Quit();
    EXPECT_TRUE(deleted);
    EXPECT_EQ(log, (std::vector<std::string>{"view:attached", "view:all-attached", "view:detached",
                                             "view:all-detached"}));
}

TEST(Controls, PreferredSizesFollowTheFont) {
    BButton button(BRect(0, 0, 5, 5), "b", "Debugfile:", nullptr);
    float width, height;
    button.GetPreferredSize(&width, &height);
    EXPECT_EQ(width, be_plain_font->StringWidth("Debugfile:") + 24);
    EXPECT_EQ(height, 24);
    button.ResizeToPreferred();
    EXPECT_EQ(button.Frame(), BRect(0, 0, width, 24));

    BCheckBox check(BRect(0, 0, 5, 5), "c", "Write to debugfile", nullptr);
    check.GetPreferredSize(&width, &height);
    EXPECT_EQ(width, be_plain_font->StringWidth("Write to debugfile") + 20);
    EXPECT_EQ(height, 16);

    // A text control keeps its width and top and takes its height from the font.
    BTextControl text(BRect(5, 5, 394, 294), "t", "Label:", "text", nullptr);
    EXPECT_EQ(text.Frame(), BRect(5, 5, 394, 25));
    EXPECT_EQ(text.Divider(), 389.0f / 2);
    text.SetDivider(40);
    text.SetText(nullptr);
    EXPECT_STREQ(text.Text(), "");
    EXPECT_EQ(text.Divider(), 40);
}

TEST(Controls, ABoxPlacesItsLabelViewOnTheBorder) {
    BBox box(BRect(5, 30, 394, 294), "box");
    auto* check = new BCheckBox(BRect(5, 30, 394, 294), "label", "Label", nullptr);
    ASSERT_EQ(box.SetLabel(check), B_OK);
    EXPECT_EQ(box.LabelView(), check);
    EXPECT_EQ(box.ChildAt(0), check);
    EXPECT_EQ(check->Frame(), BRect(10, 0, 10 + be_plain_font->StringWidth("Label") + 20, 16));
    EXPECT_EQ(box.Label(), nullptr);
    box.SetLabel("text");
    EXPECT_STREQ(box.Label(), "text");
    EXPECT_EQ(box.LabelView(), nullptr);
    EXPECT_EQ(box.CountChildren(), 0);
}

namespace {

class RecordingView : public BView {
public:
    RecordingView() : BView(BRect(0, 0, 9, 9), "recorder", B_FOLLOW_NONE, 0), handler("r") {}
    void MessageReceived(BMessage* message) override { handler.MessageReceived(message); }
    RecordingHandler handler;
};

}  // namespace

TEST(Controls, InvokeSendsTheModelMessageWithValueSourceAndTime) {
    BWindow* window = new BWindow(BRect(0, 0, 99, 99), "controls", B_TITLED_WINDOW, 0);
    auto* recorder = new RecordingView;
    auto* check = new BCheckBox(BRect(0, 0, 9, 9), "check", "Check", new BMessage('chck'));
    auto* untargeted = new BButton(BRect(0, 0, 9, 9), "button", "Button", new BMessage('bttn'));
    window->AddChild(recorder);
    window->AddChild(check);
    window->AddChild(untargeted);
    // Without a target of its own a control reports to its window.
    EXPECT_EQ(untargeted->Target(), window);
    window->Show();

    ASSERT_TRUE(window->Lock());
    ASSERT_EQ(check->SetTarget(recorder), B_OK);
    check->SetValue(B_CONTROL_ON);
    ASSERT_EQ(check->Invoke(), B_OK);
    window->Unlock();

    ASSERT_EQ(recorder->handler.WaitFor(1), 1u);
    BMessage received = recorder->handler.At(0);
    EXPECT_EQ(received.what, 'chck');
    int32 value = -1;
    EXPECT_EQ(received.FindInt32("be:value", &value), B_OK);
    EXPECT_EQ(value, B_CONTROL_ON);
    void* source = nullptr;
    EXPECT_EQ(received.FindPointer("source", &source), B_OK);
    EXPECT_EQ(source, static_cast<void*>(check));
    int64 when = 0;
    EXPECT_EQ(received.FindInt64("when", &when), B_OK);
    EXPECT_GT(when, 0);
    // The model message itself stays as it was.
    EXPECT_FALSE(check->Message()->HasData("be:value", B_INT32_TYPE));
    window->Quit();
}

TEST(FilePanel, ASaveReportsDirectoryAndNameToTheTarget) {
    RunningLooper running(RecordingHandler::kKeep, "panel target");
    RecordingHandler& handler = *running.handler;

    BMessenger target(&handler);
    BFilePanel panel(B_SAVE_PANEL, &target);
    EXPECT_EQ(panel.Save("x"), B_NOT_ALLOWED);  // not on screen yet
    panel.SetPanelDirectory("/tmp");
    panel.Show();
    ASSERT_EQ(BFilePanel::ShowingPanels(), std::vector<BFilePanel*>{&panel});
    EXPECT_EQ(panel.Save(""), B_BAD_VALUE);
    ASSERT_EQ(panel.Save("file.log"), B_OK);
    EXPECT_FALSE(panel.IsShowing());  // hidden when done
    EXPECT_TRUE(BFilePanel::ShowingPanels().empty());

    ASSERT_EQ(handler.WaitFor(1), 1u);
    BMessage saved = handler.At(0);
    EXPECT_EQ(saved.what, B_SAVE_REQUESTED);
    const char* name = nullptr;
    EXPECT_EQ(saved.FindString("name", &name), B_OK);
    EXPECT_STREQ(name, "file.log");
    entry_ref directory;
    ASSERT_EQ(saved.FindRef("directory", &directory), B_OK);
    BPath path(&directory);
    char real[4096];
    ASSERT_NE(realpath("/tmp", real), nullptr);
    EXPECT_STREQ(path.Path(), real);

    // A directory that does not resolve leaves the panel where it was.
    panel.SetPanelDirectory("/no/such/directory");
    entry_ref still;
    panel.GetPanelDirectory(&still);
    EXPECT_EQ(still, directory);

    panel.Show();
    ASSERT_EQ(panel.Cancel(), B_OK);
    ASSERT_EQ(handler.WaitFor(2), 2u);
    EXPECT_EQ(handler.At(1).what, B_CANCEL);
}
