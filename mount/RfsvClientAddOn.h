// The exports through which the host link application drives the mount client.
#pragma once

#include "kits/Rect.h"

class BView;

extern "C" {

extern const char InfoVersion[];
extern const char InfoLine1[];
extern const char InfoLine2[];
extern const char InfoLine3[];

// Runs the client for one connection in the calling thread; `version` is the device family
// (3 or less: Series 3). Returns 0, or ends the thread with status -1 when the ports can't
// be had.
int RunClient(int version);
// Writes the configuration defaults into `configs`.
int Initialise();
// A new configuration view with the given frame, editing `configs`; the caller owns it.
BView* ConfigView(BRect frame);
}
