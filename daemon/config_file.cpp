#include "config_file.h"

#include <cerrno>
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

} // namespace

FilterLists loadFilterLists(const std::string& file)
{
    const auto document = parseFile(file);
    FilterLists lists;
    lists.byName = stringList(document, "byName", file);
    lists.endsWith = stringList(document, "endsWith", file);
    return lists;
}

} // namespace TessarnFuse
