// A client add-on with the mount client's settings and settings view but without its client,
// so that the host's settings can be tested wherever the view builds.
#include <cstring>

#include "ConfigVar.h"
#include "ConfigView.h"

CONFIG_VAR configs;

extern "C" {
const char InfoVersion[] = "1.0.0\nstand-in";
const char InfoLine1[] = "settings stand-in";
const char InfoLine2[] = "";
const char InfoLine3[] = "";

int RunClient(int) { return 0; }

int Initialise() {
    configs.debug = 0;
    memcpy(configs.debugFile, CONFIG_DEFAULT_DEBUG_FILE, sizeof(CONFIG_DEFAULT_DEBUG_FILE));
    memcpy(configs.mountPoint, CONFIG_DEFAULT_MOUNT_ROOT, sizeof(CONFIG_DEFAULT_MOUNT_ROOT));
    return 0;
}

BView* ConfigView(BRect frame) { return new AddOnConfigView(frame, &configs); }
}
