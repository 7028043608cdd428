#include "ondemand/giving_up.h"

#include "client/sync_client_connection.h"

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace TessarnFuse {

namespace {

// Called by libfuse on any of its threads, possibly while the worker is setting it: it only
// tells the worker, which answers the request.
void callerGaveUp(fuse_req_t, void* id) noexcept
{
    try {
        socketThread().interrupt(static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(id)));
    } catch (...) {
        // The request then waits for its other ends, as it would without the interrupt.
    }
}

// A set of signals as /proc shows it: a bit for each, SIGHUP's the lowest.
std::uint64_t signalSet(const std::string& status, std::string_view field)
{
    const auto at = status.find(field);
    if (at == std::string::npos)
        return 0;
    return std::strtoull(status.c_str() + at + field.size(), nullptr, 16);
}

constexpr std::uint64_t signalBit(int signal)
{
    return std::uint64_t{1} << (signal - 1);
}

// A signal that ends a process by its default action is turned into SIGKILL pending for each of
// its threads. The others that ask a process to stop count whether the application handles them
// or not, as Python, most GUI toolkits and shells with a trap do: a handler runs only once the
// call has returned. A timer's signal or a child's end is no reason to fail an open or a read.
constexpr std::uint64_t stopSignals = signalBit(SIGKILL) | signalBit(SIGINT) |
                                      signalBit(SIGTERM) | signalBit(SIGHUP) | signalBit(SIGQUIT);

} // namespace

void forwardInterrupts(fuse_req_t request, std::int32_t id)
{
    fuse_req_interrupt_func(request, callerGaveUp,
                            reinterpret_cast<void*>(static_cast<std::intptr_t>(id)));
}

// FUSE names the calling thread: its status shows the signals pending for the thread itself and
// for its whole process. They stay pending while the thread waits for the answer. A signal the
// thread blocks does not interrupt it, so it waits for the application's say.
bool callerGivesUp(pid_t caller)
{
    std::ifstream file("/proc/" + std::to_string(caller) + "/status");
    if (!file)
        return true; // gone already
    const std::string status((std::istreambuf_iterator<char>(file)), {});
    const auto pending = signalSet(status, "\nSigPnd:") | signalSet(status, "\nShdPnd:");
    return (pending & stopSignals & ~signalSet(status, "\nSigBlk:")) != 0;
}

} // namespace TessarnFuse
