#include "startup/stop_signals.h"

#include <atomic>
#include <csignal>

namespace TessarnFuse {

namespace {

std::atomic<fuse_session*> servedSession{nullptr};
static_assert(std::atomic<fuse_session*>::is_always_lock_free, "taken from a signal handler");

void stopServing(int)
{
    // fuse_session_exit only raises the session's exit flag; the signal itself wakes the loop.
    if (auto* session = servedSession.load())
        fuse_session_exit(session);
}

void setHandler(void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

} // namespace

void installStopHandlers(fuse_session* session)
{
    servedSession = session;
    setHandler(stopServing);
}

void withdrawStopHandlers()
{
    servedSession = nullptr;
}

} // namespace TessarnFuse
