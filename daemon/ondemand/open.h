// Opening a file in the mount: where files on demand happen.
#pragma once

#include <fuse3/fuse_lowlevel.h>

namespace TessarnFuse::Operations {

void open(fuse_req_t request, fuse_ino_t inode, fuse_file_info* fi);

} // namespace TessarnFuse::Operations
