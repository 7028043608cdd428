#include "ondemand/caller_filter.h"

#include <algorithm>
#include <filesystem>
#include <fmt/format.h>

namespace fs = std::filesystem;

namespace TessarnFuse {

bool isDesktopClient(std::int64_t client, pid_t caller)
{
    if (client <= 0 || caller <= 0)
        return false;
    if (client == caller)
        return true;
    // FUSE names the calling thread, which for a multi-threaded client is one of its tasks.
    std::error_code error;
    const auto task = fs::status(fmt::format("/proc/{}/task/{}", client, caller), error);
    return !error && task.type() != fs::file_type::not_found;
}

bool isIgnoredApp(const std::string& name, const FilterLists& filters)
{
    const auto& byName = filters.byName;
    if (std::find(byName.begin(), byName.end(), name) != byName.end())
        return true;
    return std::any_of(filters.endsWith.begin(), filters.endsWith.end(),
                       [&name](const std::string& suffix) { return name.ends_with(suffix); });
}

} // namespace TessarnFuse
