// The family's clock: 64-bit microseconds of LOCAL time since its epoch. Every conversion
// between it and Linux time goes through here.
#pragma once

#include "platform/SupportDefs.h"

namespace epoc {

// Seconds from the family's epoch to 1970-01-01 00:00.
//
// Descriptions of the family disagree on the epoch: 1 January of year 0 or of year 1, 366 days
// apart. We take year 0 of the proleptic Gregorian calendar (astronomical numbering, so year 0
// is a leap year): the family's own date arithmetic counts years from 0, and 719,528 days
// from 0000-01-01 to 1970-01-01 is exactly what that calendar gives. Were it year 1, this would
// be 62,135,596,800 and every time would show one year and one day off: the first file stamped
// on a real handheld tells at once.
constexpr int64 kEpochToUnixSeconds = 62'167'219'200;

// Microseconds of the handheld's local clock for a Linux time, through the user's time zone.
uint64 to_device_time(int64 seconds, int64 nanoseconds);
// The Linux time of a handheld time.
void from_device_time(uint64 device, int64* seconds, int64* nanoseconds);

}  // namespace epoc
