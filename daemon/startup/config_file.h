// The daemon's configuration file: the applications whose opens never trigger a hydration, and
// how long a hydration may go without news before its open gives up.
#pragma once

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

namespace TessarnFuse {

struct FilterLists {
    std::vector<std::string> byName;   // exact executable paths
    std::vector<std::string> endsWith; // executable-path suffixes
};

struct Configuration {
    FilterLists filters;
    // Zero: no limit.
    std::chrono::seconds hydrationTimeout{300};
};

// The message names the file and what is wrong with it.
class ConfigError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Raises ConfigError when the file cannot be opened, is not strict JSON, lacks "ignoreApps"
// with the two arrays of strings "byName" and "endsWith", or has a "hydrationTimeout" that is
// not a non-negative integer.
Configuration loadConfiguration(const std::string& file);

} // namespace TessarnFuse
