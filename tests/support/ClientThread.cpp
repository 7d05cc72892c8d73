#include "ClientThread.h"

#include "platform/HostProtocol.h"

ClientThread::ClientThread(RunClient runClient, int version, const char* name)
    : runClient_(runClient), version_(version) {
    thread_ = spawn_thread(
        [](void* data) -> status_t {
            auto* self = static_cast<ClientThread*>(data);
            return self->runClient_(self->version_);
        },
        name, B_NORMAL_PRIORITY, this);
    if (thread_ >= 0) resume_thread(thread_);
}

ClientThread::~ClientThread() {
    if (!waited_ && thread_ >= 0) {
        (void)LinkDown();
        (void)Wait();
    }
}

status_t ClientThread::LinkDown(const std::vector<int32>& others) {
    const char junk[8] = "ignored";
    for (int32 code : others) send_data(thread_, code, junk, sizeof(junk));
    return send_data(thread_, HOST_LINK_DOWN, nullptr, 0);
}

status_t ClientThread::Wait() {
    status_t exitValue = B_ERROR;
    status_t status = wait_for_thread(thread_, &exitValue);
    waited_ = true;
    return status == B_OK ? exitValue : status;
}
