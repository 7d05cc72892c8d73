// tavro5's debug log: short lines about what happened to the link (sessions begun and ended,
// requests that got no usable answer), appended to the debug file the mount client names in
// the mount block. No file data goes into it. Every failure here is silent.
#pragma once

#include "platform/SupportDefs.h"

namespace tavro5 {

// Sets the add-on's debug file (the last mount's holds for every volume); empty turns it off.
void set_debug_file(const char* path);
// Appends "tavro5: " and the formatted text as one line, when there is a debug file.
void debug_line(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace tavro5
