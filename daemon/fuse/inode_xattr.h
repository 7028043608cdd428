// Extended attributes of an inode, reached through its descriptor. The calls follow the
// descriptor's /proc link, which leads to the object itself, a symbolic link included; they
// return a length, 0, or the negated errno.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace TessarnFuse::InodeXattr {

int get(int fd, const char* name, char* buffer, std::size_t size);
int set(int fd, const char* name, const char* value, std::size_t size, int flags);
int list(int fd, char* buffer, std::size_t size);
int remove(int fd, const char* name);

// The whole value, or nothing when there is none or it cannot be read.
std::optional<std::string> value(int fd, const char* name);

} // namespace TessarnFuse::InodeXattr
