// A client add-on with the mount client's settings and settings view but without its client,
// so that the host's settings can be tested wherever the view builds.
#include "ConfigVar.h"
#include "ConfigView.h"

CONFIG_VAR configs;

extern "C" {
extern const char InfoVersion[] = "1.0.0\nstand-in";
extern const char InfoLine1[] = "settings stand-in";
extern const char InfoLine2[] = "";
extern const char InfoLine3[] = "";

int RunClient(int) { return 0; }

int Initialise() {
    SetConfigDefaults(&configs);
    return 0;
}

BView* ConfigView(BRect frame) { return new AddOnConfigView(frame, &configs); }
}
