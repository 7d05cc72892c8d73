// Linux open flags as the platform's B_O_* bits; translated here and nowhere else.
#pragma once

namespace fusebridge {

// The access mode and the O_CREAT, O_EXCL, O_TRUNC and O_APPEND bits of `linux_flags` as
// B_O_* bits; every other Linux flag has no platform meaning and is dropped.
[[nodiscard]] int open_mode_from_linux(int linux_flags);

}  // namespace fusebridge
