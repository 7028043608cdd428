// What a caller creates through the mount belongs to the caller from its first instant. Linux
// keeps the file-system user and group and the supplementary groups per thread: while one of
// these lives, the thread's calls underneath are the caller's, permission checks included, and
// nothing made needs handing over afterwards, when another object may have taken its name.
#pragma once

#include <fuse3/fuse_lowlevel.h>
#include <sys/types.h>
#include <vector>

namespace TessarnFuse {

class ActingAsCaller {
public:
    explicit ActingAsCaller(fuse_req_t request);
    // The thread is the daemon's own again before it serves anyone else.
    ~ActingAsCaller();
    ActingAsCaller(const ActingAsCaller&) = delete;
    ActingAsCaller& operator=(const ActingAsCaller&) = delete;

    // 0, or -EPERM when the daemon may not act as a caller of another user: the call must not be
    // made then.
    int result() const { return m_result; }

private:
    void restore();

    bool m_switched = false;
    int m_result = 0;
    std::vector<gid_t> m_ownGroups;
};

} // namespace TessarnFuse
