#pragma once

#include "startup/daemon_options.h"

namespace TessarnFuse {

// Checks the folder's claim and serves the mount until it is unmounted. 0 after a clean
// unmount or a stop signal, -1 when the folder may not be served, else the failing step's status.
int runDaemon(DaemonOptions options);

} // namespace TessarnFuse
