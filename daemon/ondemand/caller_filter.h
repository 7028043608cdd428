// Whose opens never trigger a download: those of the applications the configuration names.
#pragma once

#include "startup/config_file.h"

#include <string>

namespace TessarnFuse {

bool isIgnoredApp(const std::string& name, const FilterLists& filters);

} // namespace TessarnFuse
