#include "stop_signals.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <thread>

namespace TessarnFuse {

namespace {

std::atomic<fuse*> servedFilesystem{nullptr};
std::atomic<bool> stopping{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
static_assert(std::atomic<fuse*>::is_always_lock_free, "taken from a signal handler");

void stopServing(int)
{
    stopping = true;
    // fuse_exit only raises the session's exit flag; the signal itself wakes the main loop.
    // Taken, not read: one stop is enough, and later signals find nothing to touch.
    if (auto* filesystem = servedFilesystem.exchange(nullptr))
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

void stopServingFilesystem()
{
    servedFilesystem = nullptr;
}

bool stopRequested()
{
    return stopping;
}

bool sleepUnlessStopping(std::chrono::milliseconds delay)
{
    constexpr std::chrono::milliseconds slice{250};
    while (delay.count() > 0 && !stopRequested()) {
        const auto nap = std::min(delay, slice);
        std::this_thread::sleep_for(nap);
        delay -= nap;
    }
    return !stopRequested();
}

} // namespace TessarnFuse
