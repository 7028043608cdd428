// Whole lines on the standard streams, each flushed at once: the plug-in and the tests read
// them while the daemon runs.
#pragma once

#include <iostream>
#include <sstream>

namespace TessarnFuse {

namespace Detail {
template <typename... Parts>
void writeLine(std::ostream& stream, const Parts&... parts)
{
    std::ostringstream line;
    (line << ... << parts) << '\n';
    stream << line.str() << std::flush;
}
} // namespace Detail

template <typename... Parts>
void printLine(const Parts&... parts)
{
    Detail::writeLine(std::cout, parts...);
}

template <typename... Parts>
void printError(const Parts&... parts)
{
    Detail::writeLine(std::cerr, parts...);
}

} // namespace TessarnFuse
