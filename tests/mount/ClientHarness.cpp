#include "ClientHarness.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>

#include "TempDir.h"

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

ClientRun::Capture::Capture() {
    AddOn::Get().runs++;
    fflush(stdout);
    testing::internal::CaptureStdout();
}

ClientRun::ClientRun(int version) : client(AddOn::Get().runClient, version, "tavro-mount client") {}

ClientRun::~ClientRun() {
    if (!waited) {
        LinkDown();
        (void)Wait();
    }
}

status_t ClientRun::Wait() {
    status_t status = client.Wait();
    if (!waited) {
        fflush(stdout);
        output = testing::internal::GetCapturedStdout();
        waited = true;
    }
    return status;
}

std::vector<std::string> ClientRun::OutputLines() const { return SplitLines(output); }

void FinishRun(ScriptedDevice& device, ClientRun& run) {
    ASSERT_TRUE(device.WaitUntilDone(15000000));
    run.LinkDown();
    EXPECT_EQ(run.Wait(), 0);
    std::vector<std::string> errors = device.Finish();
    EXPECT_TRUE(errors.empty()) << testing::PrintToString(errors);
}

bool IsStamp(const std::string& line, const std::string& lead) {
    if (line.rfind(lead, 0) != 0 || line.size() != lead.size() + 24) {
        return false;
    }
    std::string stamp = line.substr(lead.size());
    return stamp[3] == ' ' && stamp[7] == ' ' && stamp[13] == ':' && stamp[16] == ':' &&
           stamp[19] == ' ' && isdigit(static_cast<unsigned char>(stamp[23]));
}
