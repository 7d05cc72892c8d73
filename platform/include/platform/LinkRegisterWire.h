// The handheld's "LINK" server: a register request asks it to start a server by name.
//
// Request: command(u8) check value(u16) name NUL.
// Reply (39 bytes): code(u8) check value(u16) status(i16) u16 unused, the name in 32 bytes.
// Little-endian.
#pragma once

#include <cstddef>

#include "platform/SupportDefs.h"

constexpr uint8 LINK_REGISTER = 0x00;
constexpr size_t LINK_NAME_SIZE = 32;  // the name and its NUL
constexpr size_t LINK_REGISTER_REQUEST_MAX = 3 + LINK_NAME_SIZE;

constexpr size_t LINK_REPLY_CHECK = 1;
constexpr size_t LINK_REPLY_STATUS = 3;
constexpr size_t LINK_REPLY_NAME = 7;
constexpr size_t LINK_REGISTER_REPLY_SIZE = LINK_REPLY_NAME + LINK_NAME_SIZE;
static_assert(LINK_REGISTER_REPLY_SIZE == 39);
