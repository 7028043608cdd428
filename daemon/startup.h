#pragma once

#include "daemon_options.h"

namespace TessarnFuse {

// Checks the folder's claim and serves the mount until it is unmounted. The FUSE main entry's
// result, or -1 when the folder may not be served.
int runDaemon(DaemonOptions options);

// From init: starts the socket worker in the process that serves.
void startSocketThread();

} // namespace TessarnFuse
