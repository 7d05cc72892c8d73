#include "LinkLooper.h"

#include <cstdio>
#include <cstdlib>

#include "ServerChannel.h"
#include "kits/Message.h"

namespace {

LinkLooper* link_looper = nullptr;

}  // namespace

LinkLooper* TheLinkLooper() { return link_looper; }

bool StartLinkLooper() {
    if (link_looper != nullptr) return false;
    link_looper = new LinkLooper();
    link_looper->Run();
    return true;
}

LinkLooper::LinkLooper() : BLooper(nullptr, B_NORMAL_PRIORITY, kLinkLooperPortCapacity) {}

LinkLooper::~LinkLooper() {}

void LinkLooper::MessageReceived(BMessage* message) {
    // The what code's bytes as they lie in memory.
    printf("LinkLooper got msg %.4s\n", reinterpret_cast<const char*>(&message->what));
    switch (message->what) {
        case kConnectRequest:
            _Connect(message);
            break;
        case kCommandRequest:
            _Command(message);
            break;
        case kDisconnectRequest:
            _Disconnect(message);
            break;
        default:
            BHandler::MessageReceived(message);
            break;
    }
}

void LinkLooper::_Connect(BMessage* message) {
    printf("got 'conn'\n");
    const char* server;
    // Without a server name there is nothing to answer; a waiting sender gets B_NO_REPLY.
    if (message->FindString("server", &server) != B_OK) return;

    ChannelRef ref = ConnectServer(server);
    if (ref.chan != 0) {
        printf("returning conn msg %x with port %d chan %x\n", message->what,
               static_cast<int>(ref.port), ref.chan);
        message->AddInt32("port_id", ref.port);
        message->AddInt16("chan_id", static_cast<int16>(ref.chan));
    } else {
        message->what = kErrorReply;
    }
    message->SendReply(message, static_cast<BHandler*>(nullptr), B_INFINITE_TIMEOUT);
}

void LinkLooper::_Command(BMessage* message) {
    printf("got 'pcmd'\n");
    BMessage reply(kErrorReply);
    int32 result = B_BAD_VALUE;

    const void* command;
    ssize_t commandLength;
    int32 port;
    int16 chan;
    void* replyBytes = nullptr;
    if (message->FindData("command", B_RAW_TYPE, &command, &commandLength) == B_OK &&
        message->FindInt32("port_id", &port) == B_OK &&
        message->FindInt16("chan_id", &chan) == B_OK) {
        ChannelRef ref{port, static_cast<uint16>(chan)};
        result = DoCmd(ref, command, static_cast<unsigned long>(commandLength), &replyBytes);
    }
    printf("DoCmd returned %d bytes\n", static_cast<int>(result));

    if (result >= 0) {
        reply.what = kDataReply;
        reply.AddData("data", B_RAW_TYPE, replyBytes, result, true, 1);
        free(replyBytes);
    }
    message->SendReply(&reply, static_cast<BHandler*>(nullptr), B_INFINITE_TIMEOUT);
}

void LinkLooper::_Disconnect(BMessage* message) {
    printf("got 'disc'\n");
    int32 port;
    int16 chan;
    if (message->FindInt32("port_id", &port) != B_OK ||
        message->FindInt16("chan_id", &chan) != B_OK)
        return;
    // The client's reply port is its own; only the channel is closed.
    (void)Disconnect(ChannelRef{port, static_cast<uint16>(chan)});
}
