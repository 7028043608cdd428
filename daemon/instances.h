// The daemon's one job table and one socket worker. They live for the whole process: built
// before main runs, the worker stopped after main has returned.
#pragma once

#include "job_table.h"
#include "socket_thread.h"

namespace TessarnFuse {

JobTable& jobTable();
SocketThread& socketThread();

} // namespace TessarnFuse
