#include "json_number.h"
#include "msgpack.h"
#include <tessarn/tessarn.h>

#include <string>

namespace Tessarn {

namespace {
template <typename Enum> Enum lowByteOf(const nlohmann::json& value)
{
    return static_cast<Enum>(static_cast<std::uint8_t>(detail::unsignedNumber(value)));
}
} // namespace

PlaceHolderAttributes PlaceHolderAttributes::fromData(const std::filesystem::path& path,
                                                      const std::vector<unsigned char>& data)
{
    PlaceHolderAttributes record;
    record.path = path;
    if (data.empty())
        return record;

    const auto json = detail::decodeMessagePack(data);
    // One member at a time, in this order, so the first fault in it is the one reported.
    record.etag = json.at("etag").get<std::string>();
    record.fileId = json.at("fileid").get<std::string>();
    record.size = detail::unsignedNumber(json.at("size"));
    record.state = lowByteOf<Constants::States>(json.at("state"));
    record.pinState = lowByteOf<Constants::PinStates>(json.at("pinstate"));
    record.ok = true;
    return record;
}

std::optional<PlaceHolderAttributes> PlaceHolderAttributes::fromAttributes(
    const std::filesystem::path& path)
{
    const auto value = Xattr::CPP::getxattr(path, Constants::placeholderAttribute);
    if (!value)
        return std::nullopt;
    return fromData(path, std::vector<unsigned char>(value->begin(), value->end()));
}

std::vector<unsigned char> PlaceHolderAttributes::toData() const
{
    const nlohmann::json json = {
        {"etag", etag},
        {"fileid", fileId},
        {"size", size},
        {"state", static_cast<unsigned>(state)},
        {"pinstate", static_cast<unsigned>(pinState)},
    };
    return nlohmann::json::to_msgpack(json);
}

std::uint64_t PlaceHolderAttributes::realSize() const
{
    if (const auto text = Xattr::CPP::getxattr(path, Constants::realSizeAttribute))
        return static_cast<std::uint64_t>(std::stol(*text));
    return std::filesystem::file_size(path);
}

} // namespace Tessarn
