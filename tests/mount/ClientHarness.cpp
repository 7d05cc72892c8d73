#include "ClientHarness.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>

#include "TempDir.h"
#include "platform/HostProtocol.h"

AddOn& AddOn::Get() {
    static AddOn addOn = [] {
        AddOn a;
        a.handle = dlopen(TAVRO_MOUNT_PROBE, RTLD_NOW | RTLD_LOCAL);
        if (a.handle == nullptr) {
            a.error = dlerror();
            return a;
        }
        a.runClient = reinterpret_cast<int (*)(int)>(dlsym(a.handle, "RunClient"));
        a.initialise = reinterpret_cast<int (*)()>(dlsym(a.handle, "Initialise"));
        a.configs = static_cast<CONFIG_VAR*>(dlsym(a.handle, "configs"));
        a.opidc = static_cast<std::atomic<uint16>*>(dlsym(a.handle, "opidc"));
        a.infoVersion = static_cast<const char*>(dlsym(a.handle, "InfoVersion"));
        const char* names[3] = {"InfoLine1", "InfoLine2", "InfoLine3"};
        for (int i = 0; i < 3; i++) {
            a.infoLines[i] = static_cast<const char*>(dlsym(a.handle, names[i]));
        }
        return a;
    }();
    return addOn;
}

namespace {

status_t ClientThread(void* data) {
    int version = static_cast<int>(reinterpret_cast<intptr_t>(data));
    return AddOn::Get().runClient(version);
}

}  // namespace

ClientRun::ClientRun(int version) {
    AddOn::Get().runs++;
    fflush(stdout);
    testing::internal::CaptureStdout();
    thread = spawn_thread(ClientThread, "tavro-mount client", B_NORMAL_PRIORITY,
                          reinterpret_cast<void*>(static_cast<intptr_t>(version)));
    if (thread >= 0) {
        resume_thread(thread);
    }
}

ClientRun::~ClientRun() {
    if (!waited) {
        LinkDown();
        (void)Wait();
    }
}

void ClientRun::LinkDown(const std::vector<int32>& others) {
    const char junk[8] = "ignored";
    for (int32 code : others) {
        send_data(thread, code, junk, sizeof(junk));
    }
    send_data(thread, HOST_LINK_DOWN, nullptr, 0);
}

status_t ClientRun::Wait() {
    status_t exitValue = B_ERROR;
    status_t status = wait_for_thread(thread, &exitValue);
    if (!waited) {
        fflush(stdout);
        output = testing::internal::GetCapturedStdout();
        waited = true;
    }
    return status == B_OK ? exitValue : status;
}

std::vector<std::string> ClientRun::OutputLines() const { return SplitLines(output); }
