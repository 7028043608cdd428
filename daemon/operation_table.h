// The one operation table handed to FUSE.
#pragma once

#include <fuse3/fuse_lowlevel.h>

namespace TessarnFuse::Operations {

void init(void* data, fuse_conn_info* connection);

// Every operation guarded against escaping exceptions.
const fuse_lowlevel_ops& table();

} // namespace TessarnFuse::Operations
