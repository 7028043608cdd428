// Whose opens wait for a download: not the sync client's own, which bring the content, and not
// those of the applications the configuration keeps from triggering hydrations.
#pragma once

#include "startup/config_file.h"

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace TessarnFuse {

// The caller is the sync client's process or one of its threads; 0: no client is known.
bool isDesktopClient(std::int64_t client, pid_t caller);

bool isIgnoredApp(const std::string& name, const FilterLists& filters);

} // namespace TessarnFuse
