#include "paths.h"

#include "console.h"
#include "context.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace TessarnFuse {

std::string rootRelativePath(const char* fusePath)
{
    // Every thread enters the same directory, so the shared working directory is safe.
    if (::fchdir(daemonContext()->rootFd) != 0) {
        printError("Failed to chdir to root: ", std::strerror(errno));
        // Without the root every relative path would name something else: stop at once.
        std::_Exit(255);
    }
    return std::string(".") + fusePath;
}

} // namespace TessarnFuse
