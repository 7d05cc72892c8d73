// BHandler: an object that receives messages in a looper's thread.
//
// Handlers form chains: a handler that does not handle a message passes it to its next
// handler, which the default MessageReceived does. The chain ends at a handler without a next
// one, where an unhandled message is simply dropped.
#pragma once

#include <atomic>
#include <string>

#include "kits/AppDefs.h"
#include "platform/SupportDefs.h"

class BLooper;
class BMessage;

class BHandler {
public:
    explicit BHandler(const char* name = nullptr);
    virtual ~BHandler();

    // Default: passes the message on to the next handler, if any.
    virtual void MessageReceived(BMessage* message);

    BLooper* Looper() const;
    const char* Name() const;
    void SetName(const char* name);

    virtual void SetNextHandler(BHandler* handler);
    BHandler* NextHandler() const;

private:
    friend class BLooper;
    friend class BMessenger;

    int32 fToken;
    std::string fName;
    bool fHasName;
    std::atomic<BLooper*> fLooper;  // read by messengers on any thread
    BHandler* fNextHandler;
};
