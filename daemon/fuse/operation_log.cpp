#include "fuse/operation_log.h"

#include "fuse/caller.h"
#include "startup/context.h"

#include <cstdio>
#include <cstdlib>
#include <fmt/format.h>
#include <iostream>
#include <memory>
#include <syslog.h>

namespace TessarnFuse {

namespace {

// The sync client's own log file in the folder: logging its writes would feed on itself.
constexpr std::string_view excludedPath = "./.HalvorineSync.log";

std::string formatted(const char* format, va_list arguments)
{
    char* text = nullptr;
    if (::vasprintf(&text, format, arguments) < 0)
        return {};
    const std::unique_ptr<char, decltype(&std::free)> owner(text, &std::free);
    return text;
}

void toSystemLog(const std::string& line)
{
    ::syslog(LOG_INFO, "%s", line.c_str());
}

} // namespace

bool operationLogEnabled()
{
    const auto* context = daemonContext();
    return context && context->debug;
}

void logOperation(const LogPath& where, const char* operation, int result, const char* format,
                  ...)
{
    if (!operationLogEnabled())
        return;
    std::string path;
    try {
        path = where.text();
    } catch (...) {
        return;
    }
    if (path == excludedPath)
        return;
    va_list arguments;
    va_start(arguments, format);
    try {
        const auto message = formatted(format, arguments);
        const char* mark = result < 0 ? "❌" : "✅";
        const auto* request = currentCaller();
        const auto line =
            request ? fmt::format("[ pid = {} {} uuid = {}] {} {} {} {}", request->pid,
                                  processName(request->pid), request->uid, operation, message,
                                  path, mark)
                    : fmt::format("[ tessarnfuse ] {} {} {} {}", operation, message, path, mark);
        // One write per line, so that lines of concurrent operations stay whole.
        std::cout << line + '\n' << std::flush;
        toSystemLog(line);
    } catch (...) {
        // The log never fails the operation it describes.
    }
    va_end(arguments);
}

void fuseLogHook(enum fuse_log_level, const char* format, va_list arguments)
{
    try {
        const auto* request = currentCaller();
        const auto line = fmt::format("fuse: {} {}", request ? processName(request->pid) : "",
                                      formatted(format, arguments));
        std::cout << line;
        toSystemLog(line);
    } catch (...) {
        // A log message is not worth taking the FUSE library down for.
    }
}

} // namespace TessarnFuse
