// The process's table of handler tokens and looper ports. Messages and messengers name their
// target by (port, token) so that they can be copied and flattened; the receiving looper
// turns the token back into a handler here.
#pragma once

#include "platform/OS.h"

class BHandler;
class BLooper;

namespace kits_private {

int32 NewHandlerToken(BHandler* handler);
void RemoveHandlerToken(int32 token);
// The handler of token, or null when it no longer exists.
BHandler* HandlerForToken(int32 token);

void RegisterLooper(port_id port, BLooper* looper);
void UnregisterLooper(port_id port);
// The looper that owns port, or null.
BLooper* LooperForPort(port_id port);

}  // namespace kits_private
