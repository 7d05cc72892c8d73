// Platform statuses as Linux errno values: the one place where the two meet.
#pragma once

#include "platform/Errors.h"

namespace fusebridge {

// The errno for a status (a positive value for every failure, 0 for B_OK). Non-negative values
// other than B_OK are already errno values and pass unchanged; an unknown status is EIO.
[[nodiscard]] int errno_from_status(status_t status);

// Attribute operations report a missing attribute as ENODATA, not ENOENT.
[[nodiscard]] int xattr_errno_from_status(status_t status);

}  // namespace fusebridge
