// Packets of the Series 3 file service, built for scripts of requests and replies.
#pragma once

#include "Bytes.h"

// A request packet: opcode, payload length, payload.
Bytes Packet(uint16 opcode, const Bytes& payload);
// A reply packet: response code, length (status and data), status, data.
Bytes Reply(int16 status, const Bytes& data = {});
// A reply whose length word is set to the bytes it holds, after data were appended to it.
Bytes Sealed(Bytes reply);
// A 16-byte directory entry header (and the name with its NUL when `name` is given).
Bytes Entry(uint16 attributes, uint32 size, uint32 mtime, const char* name = nullptr);

// FDEVICEINFO for `device` ("M:").
Bytes DeviceInfoRequest(const std::string& device);
// An FDEVICEREAD reply naming `device` at its name offset.
Bytes DeviceReadReply(const std::string& device);
// An FDEVICEINFO reply with `volume` at its volume-name offset.
Bytes DeviceInfoReply(const std::string& volume);
