#include "json_number.h"
#include "msgpack.h"
#include <tessarn/tessarn.h>

#include <fmt/format.h>
#include <iostream>

namespace Tessarn {

Registration::Registration(const std::filesystem::path& path) : m_path(path) {}

Registration::Registration(const std::filesystem::path& path, const std::string& owner)
    : m_path(path), m_owner(owner)
{
}

Registration Registration::withError(std::string error) const
{
    Registration result = *this;
    result.m_error = std::move(error);
    return result;
}

Registration Registration::fromData(const std::filesystem::path& path,
                                    const std::vector<unsigned char>& data)
{
    if (data.empty())
        return Registration(path).withError("Invalid path");

    const auto json = detail::decodeMessagePack(data);
    Registration registration(path, json.at("owner").get<std::string>());
    registration.m_version = detail::versionNumber(json.at("version"));
    return registration;
}

Registration Registration::fromAttributes(const std::filesystem::path& path)
{
    const auto value = Xattr::CPP::getxattr(path, Constants::registrationAttribute);
    if (!value)
        return Registration(path).withError("No registration info found");
    return fromData(path, std::vector<unsigned char>(value->begin(), value->end()));
}

std::vector<unsigned char> Registration::toData() const
{
    // An ordered_json keeps "owner" before "version" whatever the key order rules.
    const nlohmann::ordered_json json = {{"owner", m_owner}, {"version", m_version}};
    return nlohmann::ordered_json::to_msgpack(json);
}

Registration Registration::registerFilesystem(const std::filesystem::path& folder,
                                              const std::string& owner)
{
    const Registration existing = fromAttributes(folder);
    if (existing.isOk() && existing.owner() != owner) {
        return existing.withError(fmt::format(
            "Failed to register Tessarn. The path '{}' is owned by: {}", folder.native(),
            existing.owner()));
    }

    const Registration claim(folder, owner);
    const auto data = claim.toData();
    const int rc = Xattr::setxattr(folder, Constants::registrationAttribute.data(),
                                   reinterpret_cast<const char*>(data.data()), data.size(), 0);
    if (rc < 0)
        return claim.withError("Failed to register Tessarn");
    return claim;
}

bool Registration::unregisterFilesystem(const Registration& registration)
{
    if (Xattr::removexattr(registration.path(), Constants::registrationAttribute.data()) < 0) {
        std::cerr << "Failed to unregister Tessarn" << std::endl;
        return false;
    }
    return true;
}

} // namespace Tessarn
