#include "kits/Looper.h"

#include <algorithm>

#include "MessageWire.h"
#include "TokenSpace.h"
#include "kits/Message.h"
#include "kits/Messenger.h"

using namespace kits_private;

BLooper::BLooper(const char* name, int32 priority, int32 portCapacity)
    : BHandler(name),
      fThread(-1),
      fPort(create_port(portCapacity, name != nullptr ? name : "LooperPort")),
      fPriority(priority),
      fLockOwner(std::thread::id()),
      fLoopThread(std::thread::id()),
      fLockCount(0),
      fPreferred(nullptr),
      fCurrentMessage(nullptr),
      fTerminating(false),
      fDeleteOnExit(false) {
    fLooper = this;
    fHandlers.push_back(this);
    if (fPort >= 0) RegisterLooper(fPort, this);
}

BLooper::~BLooper() {
    if (fPort >= 0) UnregisterLooper(fPort);
    {
        std::lock_guard guard(fLock);
        for (BHandler* handler : fHandlers) {
            if (handler != this) handler->fLooper = nullptr;
        }
        fHandlers.clear();
    }
    _DrainPort();
    if (fPort >= 0) delete_port(fPort);
}

void BLooper::_DrainPort() {
    if (fPort < 0) return;
    // Deleting a queued message tells its waiting sender that no reply will come.
    for (;;) {
        BMessage* message = new BMessage;
        int32 code;
        status_t status = BMessage::_Receive(fPort, B_TIMEOUT, 0, message, &code);
        delete message;
        if (status != B_OK && status != B_BAD_DATA) break;
    }
}

thread_id BLooper::Run() {
    if (fThread.load() >= 0) return B_ALREADY_RUNNING;
    if (fPort < 0) return fPort;
    thread_id thread = spawn_thread(_Task, Name() != nullptr ? Name() : "looper", fPriority, this);
    if (thread < 0) return thread;
    fThread = thread;
    status_t status = resume_thread(thread);
    return status == B_OK ? thread : status;
}

status_t BLooper::_Task(void* data) {
    BLooper* looper = static_cast<BLooper*>(data);
    looper->_RunLoop();
    if (looper->fDeleteOnExit) delete looper;
    return B_OK;
}

void BLooper::_RunLoop() {
    fLoopThread = std::this_thread::get_id();
    while (!fTerminating) {
        BMessage* message = new BMessage;
        int32 code = 0;
        status_t status = BMessage::_Receive(fPort, 0, B_INFINITE_TIMEOUT, message, &code);
        if (status != B_OK) {
            delete message;
            if (status == B_BAD_DATA && code == kQuitPortCode) break;
            if (status == B_BAD_PORT_ID) break;
            continue;
        }

        Lock();
        BHandler* handler = _ResolveTarget(message->fDelivery.targetToken);
        fCurrentMessage = message;
        // A message for a handler that has left the looper is dropped (and so answered with
        // B_NO_REPLY if its sender waits).
        if (handler != nullptr) DispatchMessage(message, handler);
        message = fCurrentMessage;
        fCurrentMessage = nullptr;
        Unlock();
        delete message;
    }
}

BHandler* BLooper::_ResolveTarget(int32 token) {
    if (token == B_PREFERRED_TOKEN) return fPreferred != nullptr ? fPreferred : this;
    for (BHandler* handler : fHandlers) {
        if (handler->fToken == token) return handler;
    }
    return nullptr;
}

bool BLooper::_OnLoopThread() const { return fLoopThread.load() == std::this_thread::get_id(); }

void BLooper::_StopLoop() {
    if (_OnLoopThread()) {
        fTerminating = true;
        return;
    }
    // The loop reads it after the messages already queued.
    (void)write_port(fPort, kQuitPortCode, nullptr, 0);
}

void BLooper::Quit() {
    if (fThread.load() < 0) {
        delete this;
        return;
    }
    if (_OnLoopThread()) {
        fTerminating = true;
        fDeleteOnExit = true;
        return;
    }
    _StopLoop();
    status_t exitValue;
    (void)wait_for_thread(fThread.load(), &exitValue);
    delete this;
}

bool BLooper::QuitRequested() { return true; }

status_t BLooper::PostMessage(uint32 command) {
    BMessage message(command);
    return PostMessage(&message, nullptr, nullptr);
}

status_t BLooper::PostMessage(BMessage* message) { return PostMessage(message, nullptr, nullptr); }

status_t BLooper::PostMessage(uint32 command, BHandler* handler, BHandler* replyTo) {
    BMessage message(command);
    return PostMessage(&message, handler, replyTo);
}

status_t BLooper::PostMessage(BMessage* message, BHandler* handler, BHandler* replyTo) {
    status_t status;
    BMessenger target(handler, this, &status);
    if (status != B_OK) return status;
    return target.SendMessage(message, replyTo);
}

void BLooper::DispatchMessage(BMessage* message, BHandler* handler) {
    if (message->what == B_QUIT_REQUESTED && handler == this) {
        if (QuitRequested()) Quit();
        return;
    }
    handler->MessageReceived(message);
}

void BLooper::MessageReceived(BMessage* message) { BHandler::MessageReceived(message); }

BMessage* BLooper::CurrentMessage() const { return fCurrentMessage; }

BMessage* BLooper::DetachCurrentMessage() {
    BMessage* message = fCurrentMessage;
    fCurrentMessage = nullptr;
    return message;
}

void BLooper::AddHandler(BHandler* handler) {
    if (handler == nullptr) return;
    std::lock_guard guard(fLock);
    BLooper* owner = handler->fLooper.load();
    if (owner != nullptr) return;  // a handler belongs to one looper at a time
    fHandlers.push_back(handler);
    handler->fLooper = this;
    handler->SetNextHandler(this);
}

bool BLooper::RemoveHandler(BHandler* handler) {
    if (handler == nullptr || handler == this) return false;
    std::lock_guard guard(fLock);
    auto it = std::find(fHandlers.begin(), fHandlers.end(), handler);
    if (it == fHandlers.end()) return false;
    fHandlers.erase(it);
    handler->fLooper = nullptr;
    handler->SetNextHandler(nullptr);
    if (fPreferred == handler) fPreferred = nullptr;
    return true;
}

int32 BLooper::CountHandlers() const {
    std::lock_guard guard(fLock);
    return static_cast<int32>(fHandlers.size());
}

BHandler* BLooper::HandlerAt(int32 index) const {
    std::lock_guard guard(fLock);
    if (index < 0 || static_cast<size_t>(index) >= fHandlers.size()) return nullptr;
    return fHandlers[index];
}

BHandler* BLooper::PreferredHandler() const {
    std::lock_guard guard(fLock);
    return fPreferred;
}

void BLooper::SetPreferredHandler(BHandler* handler) {
    std::lock_guard guard(fLock);
    if (handler != nullptr && handler->fLooper.load() != this) return;
    fPreferred = handler;
}

thread_id BLooper::Thread() const { return fThread.load(); }

port_id BLooper::Port() const { return fPort; }

bool BLooper::Lock() {
    fLock.lock();
    if (fLockCount++ == 0) fLockOwner = std::this_thread::get_id();
    return true;
}

void BLooper::Unlock() {
    if (--fLockCount == 0) fLockOwner = std::thread::id();
    fLock.unlock();
}

bool BLooper::IsLocked() const { return fLockOwner.load() == std::this_thread::get_id(); }
