// Channels to servers on the device, through the host's request port "WritePsion".
//
// ConnectServer connects to a server by name: a connect request, and if no channel results, a
// register request to the device's "LINK" server and one more connect request. DoCmd then
// exchanges command packets on the channel and Disconnect closes it. Every step traces itself
// with printf on standard output. The calls block for the waits of GatewayWaits.h: ConnReq up to
// 3 s, ConnLinkSrv up to 10 s, DoCmd up to 10 s for a reply to start and 10 s more to read it.
#pragma once

#include "ChannelRef.h"

// Longest server names that the connect and the register requests carry whole. Longer names
// are refused rather than cut, which could name another server.
constexpr size_t kMaxConnectName = 13;
constexpr size_t kMaxRegisterName = 31;

// Reply ports of channels hold this many messages.
constexpr int32 kChannelPortCapacity = 50;

// Looks up "WritePsion" if need be and creates a reply port named `name`: its id, 0 for a null
// name (no port made), B_BAD_VALUE without "WritePsion", or create_port's failure.
port_id GetPort(const char* name);
// One connect request for `name`; chan 0 on failure.
ChannelRef ConnReq(const char* name);
// ConnReq, and on failure LinkReq (LinkRegistration.h) and ConnReq once more.
ChannelRef ConnectServer(const char* name);
// Sends `packet` on the channel and waits for the reply: its size (> 0), 0 for an empty
// reply, or the failing step's status. With a reply slot and a result > 0 the slot gets the
// reply (the caller frees it); otherwise a given slot is set to null.
int32 DoCmd(ChannelRef& ref, const void* packet, unsigned long length, void** reply);
// Closes the channel (no answer awaited; its reply port stays); the write's status.
status_t Disconnect(ChannelRef ref);
