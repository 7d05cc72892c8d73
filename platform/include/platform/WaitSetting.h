// A time-out an add-on takes from the environment: a whole number of milliseconds, 1 to one
// hour. Anything else (unset, empty, signs, spaces, 0, too large) keeps the built-in value, so
// a stray setting can neither disable a wait nor make it endless. Tests of silence use it to
// shorten the waits of an add-on loaded as the host loads it.
#pragma once

#include <cstdlib>

#include "SupportDefs.h"

inline bigtime_t wait_setting(const char* variable, bigtime_t fallback) {
    constexpr bigtime_t kMostMilliseconds = 3600 * 1000;
    const char* text = getenv(variable);
    if (text == nullptr || *text == '\0') return fallback;
    bigtime_t milliseconds = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') return fallback;
        milliseconds = milliseconds * 10 + (*c - '0');
        if (milliseconds > kMostMilliseconds) return fallback;
    }
    return milliseconds == 0 ? fallback : milliseconds * 1000;
}
