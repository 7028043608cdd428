// Who is asking: the calling process, its user and group, and its executable.
#pragma once

#include <cstdint>
#include <fuse3/fuse_lowlevel.h>
#include <string>
#include <sys/types.h>

namespace TessarnFuse {

struct Caller {
    pid_t pid = 0;
    uid_t uid = 0;
    gid_t gid = 0;
};

Caller callerOf(fuse_req_t request);

// While it lives, the log names this caller for what the thread does; a request's answer can
// come from another thread than the one that took the request.
class ServingCaller {
public:
    explicit ServingCaller(const Caller& caller);
    ~ServingCaller();
    ServingCaller(const ServingCaller&) = delete;
    ServingCaller& operator=(const ServingCaller&) = delete;

private:
    const Caller* m_previous;
};

// The caller the thread serves now, if any.
const Caller* currentCaller();

// The caller is the sync client's process or one of its threads; 0: no client is known.
bool isDesktopClient(std::int64_t client, pid_t caller);
// The request comes from the sync client the daemon is connected to.
bool fromSyncClient(fuse_req_t request);

// The full executable path of the caller, "pid: 0" for the kernel's own requests.
std::string processName(pid_t pid);

} // namespace TessarnFuse
