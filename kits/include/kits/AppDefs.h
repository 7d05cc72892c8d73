// Message codes that the application kit itself sends or understands.
#pragma once

#include "platform/SupportDefs.h"

enum : uint32 {
    // Sent to a sender that waits for a reply when its message is deleted unanswered.
    B_NO_REPLY = '_NRP',
    // Asks a looper (or the application) to quit; QuitRequested() may refuse.
    B_QUIT_REQUESTED = '_QRQ',
    B_MESSAGE_NOT_UNDERSTOOD = '_UKN',
    // Sent by controls when they are invoked or modified.
    B_CONTROL_INVOKED = '_CIV',
    B_CONTROL_MODIFIED = '_CMD',
};

// Message port capacity of a looper when none is given.
#define B_LOOPER_PORT_DEFAULT_CAPACITY 200

// Handler token that lets the receiving looper choose the handler (its preferred handler).
#define B_PREFERRED_TOKEN (-2)
// Handler token of nothing.
#define B_NULL_TOKEN (-1)
