// Feeds arbitrary bytes to both record decoders. They may refuse bytes only with the JSON
// library's parse_error, type_error or out_of_range; any other exception, or a crash, is a
// finding. What they accept must come back unchanged through toData and fromData.
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <tessarn.h>

namespace {

void finding(const char* what)
{
    std::fprintf(stderr, "finding: %s\n", what);
    std::abort();
}

template <typename Decode> void refusingOnlyAsDocumented(const Decode& decode)
{
    try {
        decode();
    } catch (const nlohmann::json::parse_error&) {
    } catch (const nlohmann::json::type_error&) {
    } catch (const nlohmann::json::out_of_range&) {
    } catch (const std::exception& e) {
        finding(e.what());
    }
}

void decodePlaceholder(const std::vector<unsigned char>& data)
{
    const auto record = Tessarn::PlaceHolderAttributes::fromData("f", data);
    const auto again = Tessarn::PlaceHolderAttributes::fromData("g", record.toData());
    if (!again.ok || again.path != "g" || again.etag != record.etag ||
        again.fileId != record.fileId || again.size != record.size || again.state != record.state ||
        again.pinState != record.pinState)
        finding("placeholder record changed through toData and fromData");
}

void decodeRegistration(const std::vector<unsigned char>& data)
{
    const auto registration = Tessarn::Registration::fromData("d", data);
    if (!registration)
        return;
    const auto again = Tessarn::Registration::fromData("d", registration.toData());
    if (!again || again.owner() != registration.owner() ||
        again.version() != registration.version())
        finding("registration changed through toData and fromData");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* bytes, std::size_t size)
{
    const std::vector<unsigned char> data(bytes, bytes + size);
    refusingOnlyAsDocumented([&] { decodePlaceholder(data); });
    refusingOnlyAsDocumented([&] { decodeRegistration(data); });
    return 0;
}
