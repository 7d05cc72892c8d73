// tavro3's transport: sends one request packet to the device and takes its reply off the
// connection's reply port. Replies carry no tag, so the transport keeps count of the replies
// that timed out and are still owed, and drops them when they come late.
#pragma once

#include <cstddef>

#include "tavro.h"

// Sends one request packet and returns the reply (free() it), or null. `transport` receives
// B_OK, or the status of the port call that failed.
[[nodiscard]] uint8* send_command(volume* vol, const uint8* request, int32* reply_size,
                                  status_t* transport);

// Runs while the transport semaphore is still held, with the reply (or null, size 0):
// bookkeeping that must see replies in the order the device gave them.
using ReplyHook = void (*)(volume* vol, const uint8* reply, size_t size, void* context);

// send_command, calling `hook` with `context` before the next request may go.
[[nodiscard]] uint8* send_command_noting(volume* vol, const uint8* request, int32* reply_size,
                                         status_t* transport, ReplyHook hook, void* context);
