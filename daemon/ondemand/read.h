// Reading a file in the mount: a handle opened while the file downloads reads what has arrived.
#pragma once

#include <fuse3/fuse_lowlevel.h>

namespace TessarnFuse::Operations {

void read(fuse_req_t request, fuse_ino_t inode, size_t size, off_t offset, fuse_file_info* fi);

} // namespace TessarnFuse::Operations
