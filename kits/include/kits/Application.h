// BApplication: the process's one application looper, reachable as be_app and through
// be_app_messenger. Unlike a plain looper its loop runs in the thread that calls Run(), and
// Quit() ends that loop without deleting the object, which its owner keeps.
#pragma once

#include <string>

#include "kits/Looper.h"
#include "kits/Messenger.h"

// Applications' ports hold more messages than a looper's by default.
#define B_APPLICATION_PORT_CAPACITY 256

class BApplication : public BLooper {
public:
    // Becomes be_app; there is at most one application object at a time.
    explicit BApplication(const char* signature);
    virtual ~BApplication();

    // Runs the message loop in the calling thread; returns when the application quits.
    virtual thread_id Run() override;
    // Ends the loop after the current message; does not wait and does not delete.
    virtual void Quit() override;
    // Called in the application's thread before the first message is handled.
    virtual void ReadyToRun();

    const char* Signature() const;

private:
    std::string fSignature;
};

extern BApplication* be_app;
extern BMessenger be_app_messenger;
