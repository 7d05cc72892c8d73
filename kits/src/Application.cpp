#include "kits/Application.h"

BApplication* be_app = nullptr;
BMessenger be_app_messenger;

BApplication::BApplication(const char* signature)
    : BLooper(signature, B_NORMAL_PRIORITY, B_APPLICATION_PORT_CAPACITY),
      fSignature(signature != nullptr ? signature : "") {
    be_app = this;
    be_app_messenger = BMessenger(nullptr, this);
}

BApplication::~BApplication() {
    if (be_app == this) {
        be_app = nullptr;
        be_app_messenger = BMessenger();
    }
}

thread_id BApplication::Run() {
    fThread = find_thread(nullptr);
    ReadyToRun();
    _RunLoop();
    return fThread.load();
}

void BApplication::Quit() { _StopLoop(); }

void BApplication::ReadyToRun() {}

const char* BApplication::Signature() const { return fSignature.c_str(); }
