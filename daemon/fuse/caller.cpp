#include "fuse/caller.h"

#include "client/sync_client_connection.h"
#include "startup/console.h"

#include <filesystem>
#include <fmt/format.h>

namespace fs = std::filesystem;

namespace TessarnFuse {

namespace {
thread_local const Caller* served = nullptr;
}

Caller callerOf(fuse_req_t request)
{
    const auto* context = fuse_req_ctx(request);
    return {context->pid, context->uid, context->gid};
}

ServingCaller::ServingCaller(const Caller& caller) : m_previous(served)
{
    served = &caller;
}

ServingCaller::~ServingCaller()
{
    served = m_previous;
}

const Caller* currentCaller()
{
    return served;
}

bool isDesktopClient(std::int64_t client, pid_t caller)
{
    if (client <= 0 || caller <= 0)
        return false;
    if (client == caller)
        return true;
    // FUSE names the calling thread, which for a multi-threaded client is one of its tasks.
    std::error_code error;
    const auto task = fs::status(fmt::format("/proc/{}/task/{}", client, caller), error);
    return !error && task.type() != fs::file_type::not_found;
}

bool fromSyncClient(fuse_req_t request)
{
    return isDesktopClient(socketThread().clientPid(), callerOf(request).pid);
}

std::string processName(pid_t pid)
{
    if (pid == 0)
        return "pid: 0";
    std::error_code error;
    const auto executable = fs::read_symlink(fmt::format("/proc/{}/exe", pid), error);
    if (error) {
        printError("Failed to locate process name for: ", pid, " error: ", error.message());
        return fmt::format("unknown: pid: {}", pid);
    }
    return executable.string();
}

} // namespace TessarnFuse
