// Loads the tavro-mount add-on as the host does (its test build, which also shows its record
// and its operation-id counter) and runs its client for one connection on a thread of its own,
// capturing what it prints.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "ClientThread.h"
#include "ConfigVar.h"
#include "ScriptedDevice.h"
#include "TempDir.h"
#include "platform/OS.h"

struct AddOn {
    void* handle = nullptr;
    int (*runClient)(int) = nullptr;
    int (*initialise)() = nullptr;
    CONFIG_VAR* configs = nullptr;
    std::atomic<uint16>* opidc = nullptr;
    int runs = 0;  // clients started in this process
    const char* infoVersion = nullptr;
    const char* infoLines[3] = {};
    std::string error;

    // The add-on stays loaded for the life of the test process, as it does in the host.
    static AddOn& Get();
};

class ClientRun {
public:
    explicit ClientRun(int version);  // starts RunClient(version) on a new thread
    ~ClientRun();

    thread_id Thread() const { return client.Thread(); }
    // Sends the link-down message (after `others`, thread messages with other codes).
    void LinkDown(const std::vector<int32>& others = {}) { (void)client.LinkDown(others); }
    // Waits for the thread to end; gives its exit status and stops capturing standard output.
    status_t Wait();
    // Standard output of the run, complete once Wait has returned.
    const std::string& Output() const { return output; }
    std::vector<std::string> OutputLines() const;

private:
    // Captures standard output from before the client starts.
    struct Capture {
        Capture();
    } capture;
    ClientThread client;
    bool waited = false;
    std::string output;
};

// Lets the client work through the device's script, ends the link, and checks that the client
// ended well and that the device saw exactly its script.
void FinishRun(ScriptedDevice& device, ClientRun& run);

// `line` is `lead` followed by a ctime text such as "Tue Dec  8 14:04:16 2026".
bool IsStamp(const std::string& line, const std::string& lead);
