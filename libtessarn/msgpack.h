// Strict MessagePack decoding shared by the two record decoders.
#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <vector>

namespace Tessarn::detail {

// Records are flat maps. Other writers may add members of their own, but nothing a record
// could ever need nests this deep.
inline constexpr std::size_t maxNesting = 32;

// The one MessagePack value that data holds; trailing bytes are an error. The JSON library
// reads nested values recursively, so a value of a few KiB of nested arrays would run a
// small thread stack (a FUSE worker's, say) into the guard page: nesting deeper than
// maxNesting raises parse_error before anything is decoded.
nlohmann::json decodeMessagePack(const std::vector<unsigned char>& data);

} // namespace Tessarn::detail
