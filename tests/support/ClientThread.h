// An add-on's client run the host's way: RunClient(version) on a thread of its own for one
// link, ended by the link-down thread message.
#pragma once

#include <vector>

#include "platform/OS.h"

class ClientThread {
public:
    using RunClient = int (*)(int);

    ClientThread(RunClient runClient, int version, const char* name = "add-on client");
    ~ClientThread();  // ends the run if the test did not
    ClientThread(const ClientThread&) = delete;
    ClientThread& operator=(const ClientThread&) = delete;

    thread_id Thread() const { return thread_; }
    // Sends the link-down message, after `others` (thread messages with other codes).
    status_t LinkDown(const std::vector<int32>& others = {});
    // Waits for RunClient to return: its exit value, or why waiting failed.
    status_t Wait();
    bool Waited() const { return waited_; }

private:
    RunClient runClient_;
    int version_;
    thread_id thread_;
    bool waited_ = false;
};
