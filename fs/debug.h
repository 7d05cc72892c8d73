// tavro3's diagnostics: a hex dump appended to the debug file named at mount, and text lines
// for a debug window application's port. Every failure here is silent.
#pragma once

#include <cstddef>

#include "platform/SupportDefs.h"

// Sets the add-on's debug file (at most 127 characters are kept); empty turns it off.
void set_debug_file(const char* path);
// Appends `label` as it is, then "%02x " for each byte.
void dbg_print(const char* label, size_t count, const uint8* bytes);
// Sends `text` to the port "DebugWinRead" when such a port exists.
void debug_print(const char* text);
