// One line per FUSE operation on standard output and in the system log, with -d only; the
// FUSE library's own messages always.
#pragma once

#include "fuse/paths.h"

#include <cstdarg>
#include <fuse3/fuse_log.h>

namespace TessarnFuse {

bool operationLogEnabled();

// The mark at the end says whether result is negative. Formats nothing without -d.
void logOperation(const LogPath& path, const char* operation, int result, const char* format,
                  ...) __attribute__((format(printf, 4, 5)));

void fuseLogHook(enum fuse_log_level level, const char* format, va_list arguments);

} // namespace TessarnFuse
