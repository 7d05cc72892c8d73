// tavro3's requests: one psion_ function per request of the Series 3 remote file service.
// Each spells its paths in the device's character set, sends one packet (or, for reads and
// writes, one per chunk) and gives our status for the reply.
#pragma once

#include <cstddef>

#include "tavro.h"
#include "tavro_codec.h"

[[nodiscard]] int32 psion_open(volume* vol, uint16 mode, const char* path);
// FCLOSE of one handle: the status of the reply, without entering it in the handle book.
[[nodiscard]] status_t psion_fclose(volume* vol, uint16 handle);
// Closes a device handle this volume holds and enters the close in the handle book; a
// negative handle (an open that failed) is nothing to close. Every close goes through here.
[[nodiscard]] status_t psion_close_handle(volume* vol, int32 handle);
// Closes the cookie's handle and frees the cookie (and its buffer), whatever the close's
// outcome.
[[nodiscard]] status_t psion_close(volume* vol, filecookie* cookie);
// FINFO of a path: B_OK with the entry header copied to `header` (16 bytes), or an error.
[[nodiscard]] status_t psion_finfo(volume* vol, const char* path, uint8* header);
// FDIRREAD: the reply (free() it) or null; `transport` as for send_command.
[[nodiscard]] uint8* psion_dirread(volume* vol, int32 handle, int32* reply_size,
                                   status_t* transport);
[[nodiscard]] status_t psion_mkdir(volume* vol, const char* path);
[[nodiscard]] status_t psion_rename(volume* vol, const char* oldpath, const char* newpath);
[[nodiscard]] status_t psion_delete(volume* vol, const char* path);
[[nodiscard]] status_t psion_sfdate(volume* vol, const char* path, uint32 time);
[[nodiscard]] status_t psion_sfstat(volume* vol, const char* path, uint32 set, uint32 mask);
[[nodiscard]] status_t psion_deviceinfo(volume* vol, device_info* info);
[[nodiscard]] status_t psion_fseek(volume* vol, filecookie* cookie, int whence, int32 offset);
[[nodiscard]] int32 psion_read(volume* vol, filecookie* cookie, uint8* buf, uint32 count);
// FWRITE in chunks: the bytes the device is known to have stored (> 0), or the error. After
// an error the handle's position is kPositionUnknown. An append chunk whose reply went wrong
// is settled by asking where the file ends: counted if it is there, sent again if not.
[[nodiscard]] int32 psion_write(volume* vol, filecookie* cookie, const uint8* buf, uint32 count);
