// What the operations of one session share, handed to FUSE as the session's data: the inodes
// the kernel knows, what it may keep of them, and the downloads the client writes through it.
#pragma once

#include "fuse/download_table.h"
#include "fuse/inode_table.h"
#include "fuse/kernel_cache.h"

#include <chrono>
#include <cstddef>

namespace TessarnFuse {

struct ServedFolder {
    ServedFolder(int rootFd, std::size_t descriptorBudget, std::chrono::seconds cacheTimeout)
        : inodes(rootFd, descriptorBudget), cache(cacheTimeout), downloads(cache)
    {
    }

    InodeTable inodes;
    KernelCache cache;
    DownloadTable downloads;
};

} // namespace TessarnFuse
