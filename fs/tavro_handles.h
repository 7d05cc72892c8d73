// tavro3's book of the device handles the volumes of one connection hold, and the handles that
// opens and closes of unknown outcome may have left open on the device.
#pragma once

#include <cstddef>

#include "tavro.h"

// The book is joined at mount and left at unmount.
void attach_handle_book(volume* vol);
void detach_handle_book(volume* vol);
// The handles open on the device for this connection.
[[nodiscard]] size_t handles_held(volume* vol);
// True when opens of unknown outcome or closes still owed may have left handles open on the
// device, which then refuses to delete their files.
[[nodiscard]] bool handles_in_doubt(volume* vol);
// Closes those handles: the ones known, and, after opens of unknown outcome, the ones that
// an open of the drive's root listing shows them to have taken.
void tidy_device_handles(volume* vol);

// Sends an FOPEN request and enters its outcome in the book: the handle (>= 0) or our status.
// Handles left open by earlier lost requests are closed before and after.
[[nodiscard]] int32 open_noting_handles(volume* vol, const uint8* request);
// A handle that was closed; `maybe_open` when the close's outcome is unknown, so it is sent
// again with the next open.
void note_handle_closed(volume* vol, uint16 handle, bool maybe_open);
