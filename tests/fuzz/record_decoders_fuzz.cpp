// Feeds arbitrary bytes to both record decoders. They may refuse bytes only with the JSON
// library's parse_error, type_error or out_of_range; any other exception, or a crash, is a
// finding. What they accept must come back unchanged through toData and fromData.
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>
#include <tessarn/tessarn.h>

namespace {

[[noreturn]] void finding(const char* what)
{
    std::fprintf(stderr, "finding: %s\n", what);
    std::abort();
}

// The decoded record, or nothing when the decoder refused the bytes as documented.
template <typename Decode> auto decodedOrRefused(const Decode& decode)
    -> std::optional<decltype(decode())>
{
    try {
        return decode();
    } catch (const nlohmann::json::parse_error&) {
    } catch (const nlohmann::json::type_error&) {
    } catch (const nlohmann::json::out_of_range&) {
    } catch (const std::exception& e) {
        finding(e.what());
    }
    return std::nullopt;
}

// Bytes the encoder wrote must decode: any exception here is a finding.
template <typename Decode> auto reDecoded(const Decode& decode) -> decltype(decode())
{
    try {
        return decode();
    } catch (const std::exception& e) {
        finding(e.what());
    }
}

void roundTripPlaceholder(const std::vector<unsigned char>& data)
{
    const auto record =
        decodedOrRefused([&] { return Tessarn::PlaceHolderAttributes::fromData("f", data); });
    if (!record)
        return;
    const auto again =
        reDecoded([&] { return Tessarn::PlaceHolderAttributes::fromData("g", record->toData()); });
    if (!again.ok || again.path != "g" || again.etag != record->etag ||
        again.fileId != record->fileId || again.size != record->size ||
        again.state != record->state || again.pinState != record->pinState)
        finding("placeholder record changed through toData and fromData");
}

void roundTripRegistration(const std::vector<unsigned char>& data)
{
    const auto registration =
        decodedOrRefused([&] { return Tessarn::Registration::fromData("d", data); });
    if (!registration || !*registration)
        return;
    const auto again =
        reDecoded([&] { return Tessarn::Registration::fromData("d", registration->toData()); });
    if (!again || again.owner() != registration->owner() ||
        again.version() != registration->version())
        finding("registration changed through toData and fromData");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* bytes, std::size_t size)
{
    const std::vector<unsigned char> data(bytes, bytes + size);
    roundTripPlaceholder(data);
    roundTripRegistration(data);
    return 0;
}
