// Who is asking: the calling process's executable, whether it is the sync client, and
// whether the configuration keeps it from triggering hydrations.
#pragma once

#include "config_file.h"

#include <string>
#include <sys/types.h>

namespace TessarnFuse {

class JobTable;

// The full executable path of the caller, "pid: 0" for the kernel's own requests.
std::string processName(pid_t pid);

// The caller is the sync client's process or one of its threads.
bool isDesktopClient(const JobTable& jobs, pid_t caller);

bool isIgnoredApp(const std::string& name, const FilterLists& filters);

} // namespace TessarnFuse
