// LinkLooper: the gateway's face to other applications. It takes 'conn', 'pcmd' and 'disc'
// requests on its own thread, one after another, and keeps no record of connections: a
// client presents the port and channel of its connection with every request.
#pragma once

#include "kits/Looper.h"

// Request and reply codes of the gateway protocol.
enum : uint32 {
    kLinkRequest = 'link',
    kConnectRequest = 'conn',
    kCommandRequest = 'pcmd',
    kDisconnectRequest = 'disc',
    kDataReply = 'data',
    kErrorReply = 'eror',
};

// Requests wait in the looper's port while one is with the device.
constexpr int32 kLinkLooperPortCapacity = 100;

class LinkLooper : public BLooper {
public:
    LinkLooper();
    ~LinkLooper() override;

    void MessageReceived(BMessage* message) override;

private:
    void _Connect(BMessage* message);
    void _Command(BMessage* message);
    void _Disconnect(BMessage* message);
};

// The one gateway looper of the process, null until the first RunClient starts it.
LinkLooper* TheLinkLooper();
// Makes and runs the looper unless it exists already: true when this call made it. Called by
// one RunClient thread at a time; the looper outlives link drops.
bool StartLinkLooper();
