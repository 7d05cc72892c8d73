#include "DodedIVU.h"

#include "kits/Message.h"

DodedIVU::DodedIVU() : BApplication(VANTREL_SIGNATURE), fLoopThread(-1) {}

DodedIVU::~DodedIVU() { Stop(); }

status_t DodedIVU::ChainHandler(BHandler* handler) {
    if (handler == nullptr) return B_BAD_VALUE;
    if (!Lock()) return B_ERROR;
    if (handler->Looper() != nullptr) {
        Unlock();
        return B_BAD_HANDLER;
    }
    AddHandler(handler);
    BHandler* tail = this;
    while (tail->NextHandler() != nullptr) tail = tail->NextHandler();
    tail->SetNextHandler(handler);
    // The chain ends here: what the last handler passes on is not handled by anyone.
    handler->SetNextHandler(nullptr);
    Unlock();
    return B_OK;
}

status_t DodedIVU::Start() {
    if (fLoopThread >= 0) return B_ALREADY_RUNNING;
    thread_id thread = spawn_thread(_Loop, "vantrel application", B_NORMAL_PRIORITY, this);
    if (thread < 0) return thread;
    fLoopThread = thread;
    return resume_thread(thread);
}

status_t DodedIVU::_Loop(void* data) {
    static_cast<DodedIVU*>(data)->Run();
    return B_OK;
}

void DodedIVU::Stop() {
    if (fLoopThread < 0) return;
    Quit();
    status_t exitValue;
    (void)wait_for_thread(fLoopThread, &exitValue);
    fLoopThread = -1;
}
