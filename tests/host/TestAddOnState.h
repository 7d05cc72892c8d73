// What the host tests' client add-on (TestClientAddOn.cpp) counts, read by the tests through its
// TestAddOnStatePointer export.
#pragma once

#include "platform/SupportDefs.h"

struct TestAddOnState {
    int32 initialised;
    int32 runs;
    int32 lastVersion;
    int32 channel;  // atomic
    int32 otherMessages;
    int32 linkDowns;
    // When set, RunClient hears link-down messages until `detached` is set too, as the mount
    // client keeps trying to unmount a busy mount until it was detached.
    int32 busyUntilDetached;
    int32 detached;  // atomic
};
