// Opening a file in the mount.
#include "errno_result.h"
#include "operation_log.h"
#include "operations.h"
#include "paths.h"

#include <fcntl.h>

namespace TessarnFuse::Operations {

int open(const char* fusePath, fuse_file_info* fi)
{
    const auto path = rootRelativePath(fusePath);
    const int fd = resultOf(::open(path.c_str(), fi->flags));
    if (fd < 0)
        return fd;
    fi->fh = static_cast<uint64_t>(fd);
    return 0;
}

} // namespace TessarnFuse::Operations
