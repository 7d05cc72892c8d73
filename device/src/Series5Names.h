// Names and times as a Series 5 keeps them: Windows-1252 on the wire (UTF-8 in the host
// folders behind the simulated drives), compared without regard to case; times are 64-bit
// microseconds of local time.
#pragma once

#include <ctime>
#include <string>

#include "platform/SupportDefs.h"

namespace handheld {

// The wire bytes of a host name; false when the code page lacks one of its characters.
bool Series5WireName(const std::string& utf8, std::string& wire);
std::string Series5HostName(const std::string& wire);
std::string Series5Fold(const std::string& wire);
// A valid name of one path element (wire bytes), without wildcards.
bool Series5ValidName(const std::string& wire);
// Case-insensitive match of a name against a pattern of '*' and '?'.
bool Series5Matches(const std::string& wire, const std::string& pattern);
// An 8.3 alias for a long name, or empty when the name is one already.
std::string Series5ShortName(const std::string& wire);

uint64 Series5Time(const timespec& host);
timespec Series5HostTime(uint64 device);

}  // namespace handheld
