#include "json_number.h"

#include <cmath>
#include <limits>

namespace Tessarn::detail {

namespace {
std::uint64_t truncatedFloat(double value)
{
    constexpr double twoTo63 = 9223372036854775808.0;
    if (std::isnan(value))
        return 0;
    if (value >= 0)
        return value < 2 * twoTo63 ? static_cast<std::uint64_t>(value)
                                   : std::numeric_limits<std::uint64_t>::max();
    return value > -twoTo63 ? static_cast<std::uint64_t>(static_cast<std::int64_t>(value))
                            : static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::min());
}
} // namespace

std::uint64_t unsignedNumber(const nlohmann::json& value)
{
    if (value.is_number_float())
        return truncatedFloat(value.get<double>());
    // The library's conversion to its own unsigned type refuses booleans (unlike its
    // conversion to small integer types), with the 302 text the records promise.
    return value.get<nlohmann::json::number_unsigned_t>();
}

std::int32_t versionNumber(const nlohmann::json& value)
{
    if (value.is_boolean())
        return value.get<bool>() ? 1 : 0;
    return static_cast<std::int32_t>(unsignedNumber(value));
}

} // namespace Tessarn::detail
