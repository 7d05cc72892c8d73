// The node monitor: changes reported by add-ons, delivered in order to every watcher.
#pragma once

#include "kernel/fs_interface.h"

namespace kernel {

// Queues the event for the watchers; their callbacks run on the monitor's own thread, so an
// add-on never waits for a watcher and a watcher may call into the kernel.
status_t NotifyNodeMonitor(int32 op, nspace_id nsid, vnode_id vnida, vnode_id vnidb, vnode_id vnidc,
                           const char* name);

}  // namespace kernel
