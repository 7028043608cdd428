// The daemon's one connection to the sync client, built before main runs. Its worker is stopped
// before the FUSE session goes, since the replies to waiting opens go through that session.
#pragma once

#include "client/socket_thread.h"

namespace TessarnFuse {

SocketThread& socketThread();

} // namespace TessarnFuse
