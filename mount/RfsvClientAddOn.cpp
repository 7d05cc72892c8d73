#include "RfsvClientAddOn.h"

#include <new>

#include "ConfigVar.h"
#include "ConfigView.h"
#include "RfsvClient.h"
#include "platform/OS.h"

// The host reads the texts at the symbols' own addresses: arrays, not pointers.
extern "C" {
const char InfoVersion[] = "1.0.0\nCopyright (c) the tavro developers";
const char InfoLine1[] = "RFSV = Remote File SerVice";
const char InfoLine2[] = "used to connect the BeOS to the";
const char InfoLine3[] = "PSION Filesystem (Beries 3 or 5)";
}

CONFIG_VAR configs;

int RunClient(int version) {
    auto* client = new (std::nothrow) RfsvClient(&configs, ClientWaits::FromEnvironment());
    if (client == nullptr) {
        return 0;
    }
    (void)client->StartMount(version);
    if (client->PortsUnavailable()) {
        delete client;
        exit_thread(-1);
    }
    client->WaitForShutdown();
    delete client;
    return 0;
}

int Initialise() {
    set_default_config(&configs);
    return 0;
}

BView* ConfigView(BRect frame) { return new AddOnConfigView(frame, &configs); }
