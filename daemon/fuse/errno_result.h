#pragma once

#include <cerrno>

namespace TessarnFuse {

// The one place where "-1 and errno" becomes a negated errno. Call it on the system call's
// value directly, before anything else can change errno.
inline int resultOf(long rc)
{
    return rc < 0 ? -errno : static_cast<int>(rc);
}

// The value the operation log shows for a result: the system call's own -1 on failure.
inline int loggedValue(int result)
{
    return result < 0 ? -1 : result;
}

} // namespace TessarnFuse
