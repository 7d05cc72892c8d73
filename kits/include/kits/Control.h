// BControl: a view that the user sets (a value, a label, enabled or not) and that reports
// through its invoker. Invoke sends a copy of the model message with three fields added:
// int64 "when" (system time), pointer "source" (the control) and int32 "be:value" (the value).
//
// Without a display there are no clicks and no typing: whoever plays the user changes the
// control as a click or typing would (SetValue, SetText) and then calls Invoke, as the control
// does on the platform when the user is done.
#pragma once

#include <string>

#include "kits/Invoker.h"
#include "kits/View.h"

class BControl : public BView, public BInvoker {
public:
    // Takes ownership of message (may be null).
    BControl(BRect frame, const char* name, const char* label, BMessage* message,
             uint32 resizingMode, uint32 flags);
    virtual ~BControl();

    // Makes the window the target unless a valid target is set already.
    virtual void AttachedToWindow() override;

    virtual void SetLabel(const char* label);
    const char* Label() const;
    virtual void SetValue(int32 value);
    int32 Value() const;
    virtual void SetEnabled(bool enabled);
    bool IsEnabled() const;

    virtual status_t Invoke(BMessage* message = nullptr) override;

protected:
    // The label's width and the font's height (both rounded up), each with a margin added.
    void LabelSize(float widthMargin, float heightMargin, float* width, float* height);

private:
    std::string fLabel;
    bool fHasLabel;
    int32 fValue;
    bool fEnabled;
};
