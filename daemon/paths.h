#pragma once

#include <string>

namespace TessarnFuse {

// The FUSE path as a path relative to the folder underneath the mount, after making that folder
// the working directory again. Every operation maps its paths through here first.
std::string rootRelativePath(const char* fusePath);

} // namespace TessarnFuse
