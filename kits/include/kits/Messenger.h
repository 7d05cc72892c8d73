// BMessenger: the address of a handler in a looper (or of a looper's preferred handler), for
// sending messages to it from any thread. A small value: copy it freely.
#pragma once

#include "kits/Handler.h"
#include "platform/OS.h"

class BLooper;
class BMessage;

class BMessenger {
public:
    BMessenger();
    // Targets handler (which must belong to a looper; looper, if given, must be that looper),
    // or, with a null handler, looper's preferred handler. *result: B_OK, B_BAD_VALUE (neither
    // given), B_BAD_HANDLER (handler in no looper) or B_MISMATCHED_VALUES.
    BMessenger(const BHandler* handler, const BLooper* looper = nullptr,
               status_t* result = nullptr);

    bool IsValid() const;
    // The target handler (null for the preferred handler) and, in *looper, its looper. Only
    // meaningful while the target lives.
    BHandler* Target(BLooper** looper) const;
    bool IsTargetLocal() const;

    // Asynchronous: replies go to replyTo, or else to the application.
    status_t SendMessage(uint32 command, BHandler* replyTo = nullptr) const;
    status_t SendMessage(BMessage* message, BHandler* replyTo = nullptr,
                         bigtime_t timeout = B_INFINITE_TIMEOUT) const;
    status_t SendMessage(BMessage* message, const BMessenger& replyTo,
                         bigtime_t timeout = B_INFINITE_TIMEOUT) const;
    // Synchronous: waits up to replyTimeout for the reply and stores it in *reply. A message
    // that the target deletes unanswered gives a reply whose what is B_NO_REPLY. B_TIMED_OUT
    // (or B_WOULD_BLOCK for a zero time-out) when no reply came in time.
    status_t SendMessage(uint32 command, BMessage* reply) const;
    status_t SendMessage(BMessage* message, BMessage* reply,
                         bigtime_t deliveryTimeout = B_INFINITE_TIMEOUT,
                         bigtime_t replyTimeout = B_INFINITE_TIMEOUT) const;

    bool operator==(const BMessenger& other) const;
    bool operator!=(const BMessenger& other) const;

private:
    friend class BMessage;
    friend class BLooper;

    BMessenger(port_id port, int32 token);

    port_id fPort;
    int32 fHandlerToken;
};
