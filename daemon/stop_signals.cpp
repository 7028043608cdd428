#include "stop_signals.h"

#include <atomic>
#include <csignal>

namespace TessarnFuse {

namespace {

std::atomic<fuse*> servedFilesystem{nullptr};
volatile std::sig_atomic_t stopRequested = 0;

void stopServing(int)
{
    stopRequested = 1;
    // fuse_exit only raises the session's exit flag; the signal itself wakes the main loop.
    if (auto* filesystem = servedFilesystem.load())
        fuse_exit(filesystem);
}

} // namespace

void installStopHandlers()
{
    struct sigaction action {};
    action.sa_handler = stopServing;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

void serveUntilStopped(fuse* filesystem)
{
    servedFilesystem = filesystem;
    if (stopRequested)
        fuse_exit(filesystem);
}

} // namespace TessarnFuse
