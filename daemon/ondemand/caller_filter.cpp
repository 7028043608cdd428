#include "ondemand/caller_filter.h"

#include <algorithm>

namespace TessarnFuse {

bool isIgnoredApp(const std::string& name, const FilterLists& filters)
{
    const auto& byName = filters.byName;
    if (std::find(byName.begin(), byName.end(), name) != byName.end())
        return true;
    return std::any_of(filters.endsWith.begin(), filters.endsWith.end(),
                       [&name](const std::string& suffix) { return name.ends_with(suffix); });
}

} // namespace TessarnFuse
