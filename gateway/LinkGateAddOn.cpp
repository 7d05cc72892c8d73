// linkgate's entry points, looked up by name by the host: the info texts, Initialise and the
// per-link thread body RunClient.
#include <cstdio>

#include "ConnectHandler.h"
#include "DodedIVU.h"
#include "GatewayWaits.h"
#include "LinkLooper.h"
#include "LinkState.h"
#include "platform/Errors.h"
#include "platform/HostProtocol.h"

#define LINKGATE_EXPORT extern "C" __attribute__((visibility("default")))

LINKGATE_EXPORT const char InfoVersion[] = "1.0.0  \xC2\xA9 2026 the tavro developers";
LINKGATE_EXPORT const char InfoLine1[] = "RFSV = Remote Server Access";
LINKGATE_EXPORT const char InfoLine2[] = "used to connect the BeOS to";
LINKGATE_EXPORT const char InfoLine3[] = "PSION Servers";

LINKGATE_EXPORT int32 Initialise() { return 0; }

LINKGATE_EXPORT int32 RunClient(int32 /*version*/) {
    SetGatewayWaits(GatewayWaits::FromEnvironment());
    // The looper and the handler outlive link drops: they are made on the first link only.
    if (StartLinkLooper()) {
        printf("linklooper running\n");
        ConnectHandler* handler = new ConnectHandler(CONNECT_HANDLER_NAME);
        DodedIVU* application = static_cast<DodedIVU*>(be_app);
        if (application != nullptr && application->Lock()) {
            // Chained and said so under the application's lock: no 'link' reaches the handler
            // (and no client learns the looper's messenger) before the line is out.
            status_t chained = application->ChainHandler(handler);
            if (chained == B_OK) {
                printf("ConnectHandler chained\n");
            } else {
                printf("ConnectHandler not chained: %s\n", be_strerror(chained));
                delete handler;
            }
            application->Unlock();
        } else {
            printf("No application to chain ConnectHandler into\n");
            delete handler;
        }
    }

    thread_id sender;
    for (;;) {
        int32 code = receive_data(&sender, nullptr, 0);
        if (code == HOST_LINK_DOWN) {
            printf("LinkGate received PSION_DISC\n");
            break;
        }
        // A thread that can receive nothing more would otherwise spin here for ever.
        if (code < 0) {
            printf("LinkGate: no more thread messages (%s), link state dropped\n",
                   be_strerror(code));
            break;
        }
        // Other thread messages mean nothing to the gateway.
    }
    TearDownLinkState();
    return 0;
}
