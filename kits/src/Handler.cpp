#include "kits/Handler.h"

#include "TokenSpace.h"
#include "kits/Looper.h"

using namespace kits_private;

BHandler::BHandler(const char* name)
    : fToken(NewHandlerToken(this)),
      fName(name != nullptr ? name : ""),
      fHasName(name != nullptr),
      fLooper(nullptr),
      fNextHandler(nullptr) {}

BHandler::~BHandler() {
    // A handler deleted while still in a looper must not be dispatched to afterwards. A looper
    // is itself a handler and owns no looper but itself.
    BLooper* looper = fLooper.load();
    if (looper != nullptr && looper != this) looper->RemoveHandler(this);
    RemoveHandlerToken(fToken);
}

void BHandler::MessageReceived(BMessage* message) {
    if (fNextHandler != nullptr) fNextHandler->MessageReceived(message);
}

BLooper* BHandler::Looper() const { return fLooper.load(); }

const char* BHandler::Name() const { return fHasName ? fName.c_str() : nullptr; }

void BHandler::SetName(const char* name) {
    fHasName = name != nullptr;
    fName = name != nullptr ? name : "";
}

void BHandler::SetNextHandler(BHandler* handler) { fNextHandler = handler; }

BHandler* BHandler::NextHandler() const { return fNextHandler; }
