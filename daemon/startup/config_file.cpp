#include "startup/config_file.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fmt/format.h>
#include <fstream>
#include <nlohmann/json.hpp>

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

// A key's whole number of seconds, or the default when the key is absent.
std::chrono::seconds seconds(const nlohmann::json& document, const char* key,
                             std::chrono::seconds absent, const std::string& file)
{
    const auto found = document.find(key);
    if (found == document.end())
        return absent;
    // Beyond 68 years a limit means none, and the clock arithmetic would overflow.
    constexpr std::uint64_t largest = INT32_MAX;
    if (!found->is_number_unsigned() || found->get<std::uint64_t>() > largest)
        throw ConfigError(fmt::format("The configuration file \"{}\" has a \"{}\" that is not a "
                                      "whole number of seconds: {}",
                                      file, key, found->dump()));
    return std::chrono::seconds(found->get<std::uint64_t>());
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
    return configuration;
}

} // namespace TessarnFuse
