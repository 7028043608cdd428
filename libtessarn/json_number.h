// Number conversions shared by the two record decoders.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>

namespace Tessarn::detail {

// A record number as an unsigned 64-bit value: integers of any sign and width wrap as a
// cast would, floats are truncated (saturating where a cast would be undefined). Anything
// that is not a number, a boolean included, raises type_error 302.
std::uint64_t unsignedNumber(const nlohmann::json& value);

// The registration's version: like unsignedNumber, but a boolean reads as 0 or 1.
std::int32_t versionNumber(const nlohmann::json& value);

} // namespace Tessarn::detail
