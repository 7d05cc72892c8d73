#include "kits/Messenger.h"

#include "MessageWire.h"
#include "TokenSpace.h"
#include "kits/Application.h"
#include "kits/Looper.h"
#include "kits/Message.h"

using namespace kits_private;

BMessenger::BMessenger() : fPort(-1), fHandlerToken(B_NULL_TOKEN) {}

BMessenger::BMessenger(port_id port, int32 token) : fPort(port), fHandlerToken(token) {}

BMessenger::BMessenger(const BHandler* handler, const BLooper* looper, status_t* result)
    : fPort(-1), fHandlerToken(B_NULL_TOKEN) {
    status_t status = B_OK;
    if (handler != nullptr) {
        BLooper* owner = handler->Looper();
        if (owner == nullptr) {
            status = B_BAD_HANDLER;
        } else if (looper != nullptr && looper != owner) {
            status = B_MISMATCHED_VALUES;
        } else {
            fPort = owner->Port();
            fHandlerToken = handler->fToken;
        }
    } else if (looper != nullptr) {
        fPort = looper->Port();
        fHandlerToken = B_PREFERRED_TOKEN;
    } else {
        status = B_BAD_VALUE;
    }
    if (result != nullptr) *result = status;
}

bool BMessenger::IsValid() const { return fPort >= 0 && LooperForPort(fPort) != nullptr; }

BHandler* BMessenger::Target(BLooper** looper) const {
    BLooper* owner = fPort >= 0 ? LooperForPort(fPort) : nullptr;
    if (looper != nullptr) *looper = owner;
    if (owner == nullptr || fHandlerToken == B_PREFERRED_TOKEN) return nullptr;
    return HandlerForToken(fHandlerToken);
}

bool BMessenger::IsTargetLocal() const { return IsValid(); }

status_t BMessenger::SendMessage(uint32 command, BHandler* replyTo) const {
    BMessage message(command);
    return SendMessage(&message, replyTo, B_INFINITE_TIMEOUT);
}

status_t BMessenger::SendMessage(BMessage* message, BHandler* replyTo, bigtime_t timeout) const {
    // Without a reply handler, replies go to the application, as everywhere in the kit.
    BMessenger replyMessenger = be_app_messenger;
    if (replyTo != nullptr) {
        status_t status;
        replyMessenger = BMessenger(replyTo, nullptr, &status);
        if (status != B_OK) return status;
    }
    return SendMessage(message, replyMessenger, timeout);
}

status_t BMessenger::SendMessage(BMessage* message, const BMessenger& replyTo,
                                 bigtime_t timeout) const {
    if (message == nullptr) return B_BAD_VALUE;
    if (fPort < 0) return B_BAD_PORT_ID;
    BMessage::Delivery delivery = {fHandlerToken, replyTo.fPort, replyTo.fHandlerToken, 0};
    return message->_Deliver(fPort, delivery, TimeoutFlags(timeout), timeout);
}

status_t BMessenger::SendMessage(uint32 command, BMessage* reply) const {
    BMessage message(command);
    return SendMessage(&message, reply, B_INFINITE_TIMEOUT, B_INFINITE_TIMEOUT);
}

status_t BMessenger::SendMessage(BMessage* message, BMessage* reply, bigtime_t deliveryTimeout,
                                 bigtime_t replyTimeout) const {
    if (message == nullptr || reply == nullptr) return B_BAD_VALUE;
    if (fPort < 0) return B_BAD_PORT_ID;
    // A port of one's own per call: replies carry no tag, so nothing else may arrive on it.
    port_id replyPort = create_port(1, "reply port");
    if (replyPort < 0) return replyPort;

    BMessage::Delivery delivery = {fHandlerToken, replyPort, B_NULL_TOKEN, kSourceWaiting};
    status_t status =
        message->_Deliver(fPort, delivery, TimeoutFlags(deliveryTimeout), deliveryTimeout);
    if (status == B_OK)
        status = BMessage::_Receive(replyPort, TimeoutFlags(replyTimeout), replyTimeout, reply);
    delete_port(replyPort);
    return status;
}

bool BMessenger::operator==(const BMessenger& other) const {
    return fPort == other.fPort && fHandlerToken == other.fHandlerToken;
}

bool BMessenger::operator!=(const BMessenger& other) const { return !(*this == other); }
