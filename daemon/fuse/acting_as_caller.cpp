#include "fuse/acting_as_caller.h"

#include <cerrno>
#include <sys/fsuid.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace TessarnFuse {

namespace {

// The C library's setgroups changes every thread of the process; the system call, this one only.
bool setThreadGroups(const std::vector<gid_t>& groups)
{
    return ::syscall(SYS_setgroups, groups.size(), groups.data()) == 0;
}

std::vector<gid_t> callerGroups(fuse_req_t request)
{
    std::vector<gid_t> groups(32);
    for (;;) {
        const int count = fuse_req_getgroups(request, static_cast<int>(groups.size()), groups.data());
        if (count < 0)
            return {}; // unknown: only the caller's own group then
        const auto found = static_cast<std::size_t>(count);
        if (found <= groups.size()) {
            groups.resize(found);
            return groups;
        }
        groups.resize(found);
    }
}

std::vector<gid_t> threadGroups()
{
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
    const int count = ::getgroups(static_cast<int>(groups.size()), groups.data());
    groups.resize(static_cast<std::size_t>(std::max(count, 0)));
    return groups;
}

// setfsuid and setfsgid tell no error; asking with an invalid id tells what is in force.
bool actingAs(uid_t uid, gid_t gid)
{
    return static_cast<uid_t>(::setfsuid(static_cast<uid_t>(-1))) == uid &&
           static_cast<gid_t>(::setfsgid(static_cast<gid_t>(-1))) == gid;
}

} // namespace

ActingAsCaller::ActingAsCaller(fuse_req_t request)
{
    const auto* caller = fuse_req_ctx(request);
    if (caller->uid == ::geteuid() && caller->gid == ::getegid())
        return;
    m_switched = true;
    m_ownGroups = threadGroups();
    // The groups first: changing them needs the privileges that the user's change gives up.
    const bool grouped = setThreadGroups(callerGroups(request));
    ::setfsgid(caller->gid);
    ::setfsuid(caller->uid);
    if (grouped && actingAs(caller->uid, caller->gid))
        return;
    restore();
    m_switched = false;
    // A daemon without the privilege still serves its own user, whatever group it came with.
    if (caller->uid != ::geteuid())
        m_result = -EPERM;
}

ActingAsCaller::~ActingAsCaller()
{
    if (m_switched)
        restore();
}

void ActingAsCaller::restore()
{
    ::setfsuid(::geteuid());
    ::setfsgid(::getegid());
    setThreadGroups(m_ownGroups);
}

} // namespace TessarnFuse
