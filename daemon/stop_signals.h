// SIGTERM, SIGINT and SIGHUP end the FUSE loop as a clean stop. libfuse's own handlers would
// end it the same way but make the main entry report failure (8), while SIGTERM is how the
// plug-in stops the daemon every time.
#pragma once

#include <chrono>
#include <fuse3/fuse.h>

namespace TessarnFuse {

// Before the FUSE main entry, which then leaves these signals to us.
void installStopHandlers();
// From init, once the served file system exists; a stop asked for earlier takes effect now.
void serveUntilStopped(fuse* filesystem);
// From destroy, before FUSE frees the served file system: later signals must not reach it.
// Only the main thread takes these signals (every other thread blocks them), so no handler
// can be using the file system while destroy runs there.
void stopServingFilesystem();
// FUSE joins its workers before it returns, so work that may take long must end when this holds.
bool stopRequested();
// Sleeps that long, or less when a stop is requested meanwhile; false when a stop is requested.
bool sleepUnlessStopping(std::chrono::milliseconds delay);

} // namespace TessarnFuse
