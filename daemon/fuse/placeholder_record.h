// The placeholder record of an inode, as the daemon reads it.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <sys/types.h>
#include <tessarn/tessarn.h>

namespace TessarnFuse {

// A record that is there but cannot be used: its bytes do not decode, or its size is beyond
// what a file can hold.
class UndecodableRecord : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Nothing when the inode has no record. The record's path is the one given.
std::optional<Tessarn::PlaceHolderAttributes> placeholderRecord(int fd, const std::string& path);

// The record's size for a placeholder whose content is not here yet; nothing for an inode
// without a usable record.
std::optional<off_t> placeholderSize(int fd);

} // namespace TessarnFuse
