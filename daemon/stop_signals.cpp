#include "stop_signals.h"

#include <atomic>
#include <csignal>

namespace TessarnFuse {

namespace {

std::atomic<fuse*> servedFilesystem{nullptr};
std::atomic<bool> stopping{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void stopServing(int)
{
    stopping = true;
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
    if (stopping)
        fuse_exit(filesystem);
}

bool stopRequested()
{
    return stopping;
}

} // namespace TessarnFuse
