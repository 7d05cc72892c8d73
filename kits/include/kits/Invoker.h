// BInvoker: owns a model message and a target, and sends a copy of the message to the target
// when invoked. Controls (check boxes, buttons, text controls) derive from it.
#pragma once

#include "kits/Messenger.h"

class BHandler;
class BLooper;
class BMessage;

class BInvoker {
public:
    BInvoker();
    // Takes ownership of message.
    BInvoker(BMessage* message, const BHandler* handler, const BLooper* looper = nullptr);
    BInvoker(BMessage* message, const BMessenger& target);
    virtual ~BInvoker();

    // Takes ownership of message (null: none); deletes the previous one.
    virtual status_t SetMessage(BMessage* message);
    BMessage* Message() const;
    uint32 Command() const;  // what of the model message, 0 without one

    // As BMessenger's constructor: the handler must already belong to a looper.
    virtual status_t SetTarget(const BHandler* handler, const BLooper* looper = nullptr);
    virtual status_t SetTarget(const BMessenger& messenger);
    bool IsTargetLocal() const;
    BHandler* Target(BLooper** looper = nullptr) const;
    BMessenger Messenger() const;

    // Where replies to invocations go (null: the application).
    virtual status_t SetHandlerForReply(BHandler* handler);
    BHandler* HandlerForReply() const;

    // Sends message, or the model message when null; B_BAD_VALUE when there is neither.
    // Derived classes add their fields to a copy and call this with it.
    virtual status_t Invoke(BMessage* message = nullptr);

private:
    BInvoker(const BInvoker&) = delete;
    BInvoker& operator=(const BInvoker&) = delete;

    BMessage* fMessage;
    BMessenger fMessenger;
    BHandler* fReplyTo;
};
