#include "worker_pool.h"

#include "wire_format.h"

#include <algorithm>

namespace TessarnFuse {

namespace {

// The option list of an argument: the one after "-o", or what follows "-o" in the same word.
std::string_view optionListOf(const std::vector<std::string>& arguments, std::size_t index)
{
    const std::string_view argument = arguments[index];
    if (argument == "-o")
        return index + 1 < arguments.size() ? std::string_view(arguments[index + 1]) : "";
    if (argument.starts_with("-o"))
        return argument.substr(2);
    return "";
}

} // namespace

unsigned effectiveMaxThreads(const std::vector<std::string>& fuseArguments)
{
    constexpr std::string_view key = "max_threads=";
    unsigned maxThreads = defaultMaxThreads;
    for (std::size_t i = 0; i < fuseArguments.size(); ++i) {
        for (const auto option : splitAt(optionListOf(fuseArguments, i), ',')) {
            if (!option.starts_with(key))
                continue;
            if (const auto value = parseDecimal(option.substr(key.size()), 1, 100000))
                maxThreads = static_cast<unsigned>(*value);
        }
    }
    return maxThreads;
}

unsigned maxWaitingOpens(unsigned maxThreads)
{
    return std::max(1u, maxThreads * 5 / 8);
}

} // namespace TessarnFuse
