// DodedIVU: the host link application's application object (be_app). Messages to the
// application that the host does not handle itself pass along a chain of handlers that the
// client add-ons hook in with ChainHandler (the host handles none of its own yet).
#pragma once

#include "kits/Application.h"

#define VANTREL_SIGNATURE "application/x-vnd.zk.vantrel"

class DodedIVU : public BApplication {
public:
    DodedIVU();
    virtual ~DodedIVU();

    // Appends handler to the end of the application's chain (it becomes one of the
    // application's handlers). B_BAD_VALUE for null, B_BAD_HANDLER for a handler that already
    // belongs to a looper (this one included: a handler is chained once).
    status_t ChainHandler(BHandler* handler);

    // The host runs the application's loop on a thread of its own: Start before the first
    // link comes up, Stop after the last one went down. Stop returns once the loop has ended.
    status_t Start();
    void Stop();

private:
    static status_t _Loop(void* data);

    thread_id fLoopThread;
};
