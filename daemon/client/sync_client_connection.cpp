#include "client/sync_client_connection.h"

namespace TessarnFuse {

namespace {
// Declared in this order so that the table outlives the worker that writes to it.
JobTable theJobTable;
SocketThread theSocketThread{"SocketThread", &theJobTable};
} // namespace

SocketThread& socketThread()
{
    return theSocketThread;
}

} // namespace TessarnFuse
