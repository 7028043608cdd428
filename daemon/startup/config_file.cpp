#include "startup/config_file.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fmt/format.h>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <sys/types.h>

namespace TessarnFuse {

namespace {

nlohmann::json parseFile(const std::string& file)
{
    std::ifstream stream(file);
    if (!stream)
        throw ConfigError(fmt::format("Cannot open the configuration file \"{}\": {}", file,
                                      std::strerror(errno)));
    try {
        return nlohmann::json::parse(stream);
    } catch (const nlohmann::json::exception& e) {
        throw ConfigError(
            fmt::format("The configuration file \"{}\" is not valid JSON: {}", file, e.what()));
    }
}

std::vector<std::string> stringList(const nlohmann::json& document, const char* key,
                                    const std::string& file)
{
    try {
        return document.at("ignoreApps").at(key).get<std::vector<std::string>>();
    } catch (const nlohmann::json::exception& e) {
        throw ConfigError(fmt::format(
            "The configuration file \"{}\" has no array of strings \"ignoreApps\"/\"{}\": {}",
            file, key, e.what()));
    }
}

// A key's whole number of units up to largest, or the default when the key is absent.
std::uint64_t wholeNumber(const nlohmann::json& document, const char* key, std::uint64_t absent,
                          std::uint64_t largest, const char* units, const std::string& file)
{
    const auto found = document.find(key);
    if (found == document.end())
        return absent;
    if (!found->is_number_unsigned() || found->get<std::uint64_t>() > largest)
        throw ConfigError(fmt::format("The configuration file \"{}\" has a \"{}\" that is not a "
                                      "whole number of {}: {}",
                                      file, key, units, found->dump()));
    return found->get<std::uint64_t>();
}

std::chrono::seconds seconds(const nlohmann::json& document, const char* key,
                             std::chrono::seconds absent, const std::string& file)
{
    // Beyond 68 years a limit means none, and the clock arithmetic would overflow.
    const auto count = wholeNumber(document, key, static_cast<std::uint64_t>(absent.count()),
                                   INT32_MAX, "seconds", file);
    return std::chrono::seconds(count);
}

} // namespace

Configuration loadConfiguration(const std::string& file)
{
    const auto document = parseFile(file);
    Configuration configuration;
    configuration.filters.byName = stringList(document, "byName", file);
    configuration.filters.endsWith = stringList(document, "endsWith", file);
    const Configuration defaults;
    configuration.hydrationTimeout =
        seconds(document, "hydrationTimeout", defaults.hydrationTimeout, file);
    configuration.cacheTimeout = seconds(document, "cacheTimeout", defaults.cacheTimeout, file);
    configuration.streamFrom = wholeNumber(document, "streamFrom", defaults.streamFrom,
                                           std::numeric_limits<off_t>::max(), "bytes", file);
    return configuration;
}

} // namespace TessarnFuse
