// The daemon's one connection to the sync client: its job table and its socket worker. Both are
// built before main runs; the worker is stopped before the FUSE session goes, since the replies
// to waiting opens go through that session.
#pragma once

#include "client/job_table.h"
#include "client/socket_thread.h"

namespace TessarnFuse {

JobTable& jobTable();
SocketThread& socketThread();

} // namespace TessarnFuse
