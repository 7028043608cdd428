#include "msgpack.h"

#include <fmt/format.h>

namespace Tessarn::detail {

namespace {

constexpr bool strict = true;
constexpr bool allowExceptions = true;

// Follows the nesting only, and stops the reader at the first container past the limit,
// so the reader's recursion never goes deeper than that.
class NestingProbe {
public:
    bool tooDeep() const { return m_tooDeep; }

    bool null() { return true; }
    bool boolean(bool) { return true; }
    bool number_integer(nlohmann::json::number_integer_t) { return true; }
    bool number_unsigned(nlohmann::json::number_unsigned_t) { return true; }
    bool number_float(nlohmann::json::number_float_t, const std::string&) { return true; }
    bool string(std::string&) { return true; }
    bool binary(nlohmann::json::binary_t&) { return true; }
    bool key(std::string&) { return true; }
    bool start_object(std::size_t) { return enter(); }
    bool start_array(std::size_t) { return enter(); }
    bool end_object() { return leave(); }
    bool end_array() { return leave(); }
    // Malformed input is left to the decoder proper, which reports it in its own words.
    bool parse_error(std::size_t, const std::string&, const nlohmann::json::exception&)
    {
        return false;
    }

private:
    bool enter()
    {
        m_tooDeep = ++m_depth > maxNesting;
        return !m_tooDeep;
    }
    bool leave()
    {
        --m_depth;
        return true;
    }

    std::size_t m_depth = 0;
    bool m_tooDeep = false;
};

} // namespace

nlohmann::json decodeMessagePack(const std::vector<unsigned char>& data)
{
    NestingProbe probe;
    nlohmann::json::sax_parse(data, &probe, nlohmann::json::input_format_t::msgpack, strict);
    if (probe.tooDeep()) {
        throw nlohmann::json::parse_error::create(
            112, 0,
            fmt::format("syntax error while parsing MessagePack value: nesting deeper than {} "
                        "levels",
                        maxNesting),
            nullptr);
    }
    return nlohmann::json::from_msgpack(data, strict, allowExceptions);
}

} // namespace Tessarn::detail
