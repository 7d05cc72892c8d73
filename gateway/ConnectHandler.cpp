#include "ConnectHandler.h"

#include <cstdio>

#include "LinkLooper.h"
#include "kits/Message.h"
#include "kits/Messenger.h"

ConnectHandler::ConnectHandler(const char* name) : BHandler(name) {}

ConnectHandler::~ConnectHandler() {}

void ConnectHandler::MessageReceived(BMessage* message) {
    printf("ConnectHandler got msg %x\n", message->what);
    if (message->what != kLinkRequest) {
        BHandler::MessageReceived(message);
        return;
    }
    // The reply is the request itself: the client's own fields and the gateway's messenger.
    message->AddMessenger("messenger", BMessenger(TheLinkLooper()));
    message->SendReply(message, static_cast<BHandler*>(nullptr), B_INFINITE_TIMEOUT);
}
