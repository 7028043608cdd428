// SIGTERM, SIGINT and SIGHUP end the FUSE loop as a clean stop. libfuse's own handlers would
// end it the same way but make the loop report the signal as its error, while SIGTERM is how
// the plug-in stops the daemon every time.
#pragma once

#include <fuse3/fuse_lowlevel.h>

namespace TessarnFuse {

// While the session serves; a stop asked for before the loop runs ends it as soon as it starts.
void installStopHandlers(fuse_session* session);
// Before the session is destroyed: later signals must not reach it. Only the main thread takes
// these signals (every other thread blocks them), so no handler can be using the session then.
void withdrawStopHandlers();

} // namespace TessarnFuse
