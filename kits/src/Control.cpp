#include "kits/Control.h"

#include <cmath>

#include "kits/Message.h"
#include "kits/Window.h"

BControl::BControl(BRect frame, const char* name, const char* label, BMessage* message,
                   uint32 resizingMode, uint32 flags)
    : BView(frame, name, resizingMode, flags),
      BInvoker(message, nullptr, nullptr),
      fLabel(label != nullptr ? label : ""),
      fHasLabel(label != nullptr),
      fValue(B_CONTROL_OFF),
      fEnabled(true) {}

BControl::~BControl() = default;

void BControl::AttachedToWindow() {
    if (!Messenger().IsValid()) (void)SetTarget(Window());
}

void BControl::SetLabel(const char* label) {
    fHasLabel = label != nullptr;
    fLabel = label != nullptr ? label : "";
}

const char* BControl::Label() const { return fHasLabel ? fLabel.c_str() : nullptr; }

void BControl::SetValue(int32 value) { fValue = value; }

int32 BControl::Value() const { return fValue; }

void BControl::SetEnabled(bool enabled) { fEnabled = enabled; }

bool BControl::IsEnabled() const { return fEnabled; }

status_t BControl::Invoke(BMessage* message) {
    if (message == nullptr) message = Message();
    if (message == nullptr) return B_BAD_VALUE;
    BMessage copy(*message);
    copy.AddInt64("when", system_time());
    copy.AddPointer("source", this);
    copy.AddInt32("be:value", fValue);
    return BInvoker::Invoke(&copy);
}

void BControl::LabelSize(float widthMargin, float heightMargin, float* width, float* height) {
    font_height metrics;
    GetFontHeight(&metrics);
    if (width != nullptr) *width = std::ceil(StringWidth(Label())) + widthMargin;
    if (height != nullptr)
        *height = std::ceil(metrics.ascent + metrics.descent + metrics.leading) + heightMargin;
}
