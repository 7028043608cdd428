// The daemon's configuration file: the applications whose opens never trigger a hydration.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace TessarnFuse {

struct FilterLists {
    std::vector<std::string> byName;   // exact executable paths
    std::vector<std::string> endsWith; // executable-path suffixes
};

// The message names the file and what is wrong with it.
class ConfigError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Raises ConfigError when the file cannot be opened, is not strict JSON, or lacks
// "ignoreApps" with the two arrays of strings "byName" and "endsWith".
FilterLists loadFilterLists(const std::string& file);

} // namespace TessarnFuse
