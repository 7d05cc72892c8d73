// BLooper: a handler with a message port and, once Run, a thread of its own that takes
// messages from the port one at a time and dispatches each to its target handler.
//
// The port has a fixed capacity: a sender blocks (or times out) while it is full. The looper
// is locked while it dispatches a message; other threads lock it to change its handlers.
// Quit() ends the thread and deletes the looper (see there). Messages still queued when a
// looper goes away are deleted, so their waiting senders get B_NO_REPLY.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "kits/AppDefs.h"
#include "kits/Handler.h"
#include "platform/OS.h"

class BMessage;

class BLooper : public BHandler {
public:
    explicit BLooper(const char* name = nullptr, int32 priority = B_NORMAL_PRIORITY,
                     int32 portCapacity = B_LOOPER_PORT_DEFAULT_CAPACITY);
    virtual ~BLooper();

    // Spawns the looper's thread and returns its id; B_ALREADY_RUNNING on a second call.
    virtual thread_id Run();
    // From the looper's own thread: the thread ends after the current message and the looper
    // deletes itself. From another thread: waits until the looper's thread has ended, then
    // deletes the looper; the caller must not hold the looper's lock. A looper that was never
    // run is deleted at once.
    virtual void Quit();
    // Asked on B_QUIT_REQUESTED; true lets the looper quit.
    virtual bool QuitRequested();

    // Queue a message to a handler of this looper (the preferred handler when none is named).
    // Replies go to replyTo, or else to the application.
    status_t PostMessage(uint32 command);
    status_t PostMessage(BMessage* message);
    status_t PostMessage(uint32 command, BHandler* handler, BHandler* replyTo = nullptr);
    status_t PostMessage(BMessage* message, BHandler* handler, BHandler* replyTo = nullptr);

    // Default: B_QUIT_REQUESTED to the looper runs QuitRequested() and Quit(); everything else
    // goes to the handler's MessageReceived.
    virtual void DispatchMessage(BMessage* message, BHandler* handler);
    virtual void MessageReceived(BMessage* message) override;

    // The message being dispatched; the looper deletes it after dispatch unless detached.
    BMessage* CurrentMessage() const;
    BMessage* DetachCurrentMessage();

    // Adding a handler makes the looper its next handler, as unhandled messages of a handler
    // normally end up with its looper; change it with SetNextHandler afterwards if needed.
    void AddHandler(BHandler* handler);
    bool RemoveHandler(BHandler* handler);
    int32 CountHandlers() const;
    BHandler* HandlerAt(int32 index) const;
    BHandler* PreferredHandler() const;
    void SetPreferredHandler(BHandler* handler);

    thread_id Thread() const;
    port_id Port() const;

    bool Lock();
    void Unlock();
    bool IsLocked() const;  // by the calling thread

protected:
    // Runs the message loop in the calling thread until the looper quits (BApplication).
    void _RunLoop();
    // Ends the loop after the current message, from any thread, without waiting for it.
    void _StopLoop();
    bool _OnLoopThread() const;

    std::atomic<thread_id> fThread;

private:
    static status_t _Task(void* data);
    BHandler* _ResolveTarget(int32 token);
    void _DrainPort();

    port_id fPort;
    int32 fPriority;
    mutable std::recursive_mutex fLock;
    std::atomic<std::thread::id> fLockOwner;
    std::atomic<std::thread::id> fLoopThread;
    int32 fLockCount;
    std::vector<BHandler*> fHandlers;  // guarded by fLock
    BHandler* fPreferred;              // guarded by fLock
    BMessage* fCurrentMessage;         // looper thread only
    bool fTerminating;                 // looper thread only
    bool fDeleteOnExit;                // looper thread only
};
