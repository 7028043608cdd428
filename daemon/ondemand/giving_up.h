// A caller whose request waits may give up: the kernel interrupts the request, and the caller
// gives up when it is being ended or asked to stop.
#pragma once

#include <cstdint>
#include <fuse3/fuse_lowlevel.h>
#include <sys/types.h>

namespace TessarnFuse {

// From now on an interrupt of the request reaches the socket worker as one for id.
void forwardInterrupts(fuse_req_t request, std::int32_t id);

// The caller is being killed, or has SIGINT, SIGTERM, SIGHUP or SIGQUIT pending and not blocked.
bool callerGivesUp(pid_t caller);

} // namespace TessarnFuse
