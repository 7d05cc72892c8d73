// The gateway's process-wide link state: the host's request port and the channel to the
// device's "LINK" server. The gateway looper uses them while the RunClient thread may tear
// them down when the link drops, so every access goes through these functions under one lock;
// none of them blocks on a port while holding it.
#pragma once

#include "ChannelRef.h"

// The id of the host's request port "WritePsion", looked up first if it is not known (the
// result may still be negative).
port_id LookUpRequestPort();
// The request port's id as it stands, without a look-up.
port_id CurrentRequestPort();
// The channel to the "LINK" server, kept open while the link is up.
ChannelRef CurrentLinkHandle();

// Counts teardowns, so that a LINK connect that straddles one can tell and drop its result.
uint32 CurrentLinkGeneration();
// Records the reply port of a new LINK connect attempt, unless the link went down since
// `generation`; a port that an earlier failed attempt left behind is deleted. False: the link
// went down, and the caller deletes its port.
bool SetLinkPort(uint32 generation, port_id port);
// Records the LINK channel if the link is still the one the attempt started on with `port`.
bool SetLinkChannel(uint32 generation, port_id port, uint16 chan);

// Link-down teardown: deletes the LINK channel's reply port and forgets both values.
void TearDownLinkState();
