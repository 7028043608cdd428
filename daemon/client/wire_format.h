// The lines of the sync client's socket API: "COMMAND:payload\n" in both directions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace TessarnFuse {

struct MsgData;

// The request as one line, ending in "\n". Raises nlohmann::json::type_error (316) when a
// string is not UTF-8 and so cannot be written as JSON text.
std::string requestLine(const MsgData& data);

// A "V2/HYDRATE_FILE_RESULT" payload taken apart; raises nlohmann::json::exception when the
// payload is not JSON or lacks a member of the right type. The client may name the system's
// error behind a failure in "errno"; a name that is no text counts as none.
struct HydrationAnswer {
    std::string id;
    std::optional<std::string> error;
    std::string status;
    std::string errorName; // "ENOSPC"; empty when the answer names none
};
HydrationAnswer parseHydrationAnswer(const std::string& payload);

// The errno of a name a client may give a failed download, EIO for any other name.
int errnoNamed(std::string_view name);

// A decimal number the way strtol reads one (leading blanks, optional sign, trailing text
// ignored); nothing when no digit starts it or it leaves [minimum, maximum].
std::optional<std::int64_t> parseDecimal(std::string_view text, std::int64_t minimum,
                                         std::int64_t maximum);

std::vector<std::string_view> splitAt(std::string_view text, char separator);

} // namespace TessarnFuse
