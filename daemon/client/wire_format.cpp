#include "client/wire_format.h"

#include "client/socket_thread.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <iterator>
#include <utility>
#include <limits>
#include <nlohmann/json.hpp>

namespace TessarnFuse {

std::string requestLine(const MsgData& data)
{
    // The object keeps its keys sorted, which is exactly the order the client expects:
    // "arguments" before "id", and "file", "fileId", "requester" inside.
    const nlohmann::json request = {
        {"arguments",
         {{"file", data.file}, {"fileId", data.fileId}, {"requester", data.requester}}},
        {"id", std::to_string(data.id)},
    };
    return data.command + ":" +
           request.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict) + "\n";
}

HydrationAnswer parseHydrationAnswer(const std::string& payload)
{
    const auto answer = nlohmann::json::parse(payload);
    HydrationAnswer result;
    result.id = answer.at("id").get<std::string>();
    const auto& arguments = answer.at("arguments");
    if (arguments.is_object() && arguments.contains("error"))
        result.error = arguments.at("error").get<std::string>();
    else
        result.status = arguments.at("status").get<std::string>();
    if (const auto name = arguments.find("errno"); name != arguments.end() && name->is_string())
        result.errorName = name->get<std::string>();
    return result;
}

int errnoNamed(std::string_view name)
{
    // What a download can run into, as an application opening the file may be told it; the rest
    // (EAGAIN, EINTR, ...) would mean something else to the opener.
    static constexpr std::pair<std::string_view, int> known[] = {
        {"ENOENT", ENOENT},         {"EACCES", EACCES},           {"EPERM", EPERM},
        {"EIO", EIO},               {"ENOSPC", ENOSPC},           {"EDQUOT", EDQUOT},
        {"EROFS", EROFS},           {"EFBIG", EFBIG},             {"ENOMEM", ENOMEM},
        {"ETIMEDOUT", ETIMEDOUT},   {"ECONNREFUSED", ECONNREFUSED}, {"ECONNRESET", ECONNRESET},
        {"ENETUNREACH", ENETUNREACH}, {"EHOSTUNREACH", EHOSTUNREACH},
    };
    const auto* found = std::find_if(std::begin(known), std::end(known),
                                     [name](const auto& entry) { return entry.first == name; });
    return found != std::end(known) ? found->second : EIO;
}

std::optional<std::int64_t> parseDecimal(std::string_view text, std::int64_t minimum,
                                         std::int64_t maximum)
{
    const auto start = text.find_first_not_of(" \t\n\v\f\r");
    if (start == std::string_view::npos)
        return std::nullopt;
    text.remove_prefix(start);
    const bool negative = text.front() == '-';
    if (negative || text.front() == '+')
        text.remove_prefix(1);

    std::uint64_t magnitude = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (error != std::errc{} || end == text.data())
        return std::nullopt;
    constexpr auto largest = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (magnitude > largest + (negative ? 1 : 0))
        return std::nullopt;
    const auto value = negative ? static_cast<std::int64_t>(0 - magnitude)
                                : static_cast<std::int64_t>(magnitude);
    if (value < minimum || value > maximum)
        return std::nullopt;
    return value;
}

std::vector<std::string_view> splitAt(std::string_view text, char separator)
{
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    for (auto end = text.find(separator); end != std::string_view::npos;
         end = text.find(separator, start)) {
        pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

} // namespace TessarnFuse
