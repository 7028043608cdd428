// The daemon's configuration file: the applications whose opens never trigger a hydration, how
// long a hydration may go without news before its open gives up, and from what size a reader
// gets the first bytes while the rest downloads.
#pragma once

#include <chrono>
#include <cstdint>
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
    // How long the kernel may keep what it learnt of names, attributes, listings and contents.
    // Everything changes through the mount, where the daemon sees it, but for a process that kept
    // a descriptor or a working directory inside the folder from before the mount: this bounds
    // how long such a change goes unseen. Zero: the kernel keeps nothing.
    std::chrono::seconds cacheTimeout{3600};
    // The record size from which an open for reading is answered once the first bytes have
    // arrived, its reads each waiting for their own bytes. Zero: every open waits for the whole
    // download.
    std::uint64_t streamFrom = 8 * 1024 * 1024;
};

// The message names the file and what is wrong with it.
class ConfigError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Raises ConfigError when the file cannot be opened, is not strict JSON, lacks "ignoreApps"
// with the two arrays of strings "byName" and "endsWith", or has a "hydrationTimeout", a
// "cacheTimeout" or a "streamFrom" that is not a non-negative integer.
Configuration loadConfiguration(const std::string& file);

} // namespace TessarnFuse
