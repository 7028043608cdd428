// libtessarn: the placeholder and registration records of a Tessarn folder, kept in
// extended attributes, and thin wrappers over the extended-attribute system calls.
//
// Malformed record bytes raise nlohmann::json's parse_error, type_error or out_of_range
// (values nested deeper than any record needs count as malformed: parse_error); the
// library catches nothing, so callers that must not throw catch nlohmann::json::exception
// themselves.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <tessarn/version.h>

#define TESSARN_EXPORT __attribute__((visibility("default")))

// Every call addresses the path itself, never the target of a symbolic link, and
// reports a failure as the negated errno, the convention of FUSE operation handlers.
namespace Xattr {

TESSARN_EXPORT int getxattr(const std::filesystem::path& path, const char* name, char* buffer,
                            unsigned long size);
TESSARN_EXPORT int setxattr(const std::filesystem::path& path, const char* name,
                            const char* value, unsigned long size, int flags);
TESSARN_EXPORT int listxattr(const std::filesystem::path& path, char* buffer,
                             unsigned long size);
TESSARN_EXPORT int removexattr(const std::filesystem::path& path, const char* name);

namespace CPP {
// The whole value, or nothing when it cannot be read for whatever reason. The name must
// be NUL-terminated: its data pointer is handed to the kernel as a C string.
TESSARN_EXPORT std::optional<std::string> getxattr(const std::filesystem::path& path,
                                                   std::string_view name);
} // namespace CPP

} // namespace Xattr

namespace Tessarn {

namespace Constants {

enum class States : std::uint8_t { Hydrated = 0, Dehydrated = 1, Hydrating = 2 };

enum class PinStates : std::uint8_t {
    Unspecified = 0,
    Hydrated = 1,
    Dehydrated = 2,
    Inherited = 3,
    Excluded = 4,
};

// Views over NUL-terminated literals, so their data() can go to the kernel as is.
inline constexpr std::string_view placeholderAttribute = "user.tessarn.data";
inline constexpr std::string_view realSizeAttribute = "user.tessarn.realsize";
inline constexpr std::string_view registrationAttribute = "user.tessarn.registration";
// Through the mount, while a file downloads: "ARRIVED/SIZE", the bytes that have arrived in
// order and the size the record promises.
inline constexpr std::string_view progressAttribute = "user.tessarn.progress";

} // namespace Constants

// The record of one file in "user.tessarn.data". A default-constructed record is the
// one an empty attribute value decodes to: nothing known, ok false.
class PlaceHolderAttributes {
public:
    std::filesystem::path path;
    std::string etag;
    std::string fileId;
    unsigned long size = 0;
    Constants::States state = Constants::States::Hydrated;
    Constants::PinStates pinState = Constants::PinStates::Inherited;
    bool ok = false;

    PlaceHolderAttributes() = default;
    PlaceHolderAttributes(const std::filesystem::path& path, const std::string& etag,
                          const std::string& fileId, unsigned long size,
                          Constants::States state, Constants::PinStates pinState)
        : path(path), etag(etag), fileId(fileId), size(size), state(state),
          pinState(pinState), ok(true)
    {
    }

    // A new placeholder: not downloaded yet, pin state taken from the parent folder.
    static PlaceHolderAttributes create(const std::filesystem::path& path,
                                        const std::string& etag, const std::string& fileId,
                                        unsigned long size)
    {
        return {path, etag, fileId, size, Constants::States::Dehydrated,
                Constants::PinStates::Inherited};
    }

    TESSARN_EXPORT static PlaceHolderAttributes fromData(const std::filesystem::path& path,
                                                         const std::vector<unsigned char>& data);
    TESSARN_EXPORT static std::optional<PlaceHolderAttributes>
    fromAttributes(const std::filesystem::path& path);

    TESSARN_EXPORT std::vector<unsigned char> toData() const;

    // Bytes of content the file really holds: the realsize attribute that the daemon
    // serves through the mount, else the file's own size.
    TESSARN_EXPORT std::uint64_t realSize() const;

    bool isOk() const { return ok; }
    explicit operator bool() const { return isOk(); }

    // Whether the record agrees with the file: a hydrated record carries no size of its
    // own, a dehydrated placeholder holds no content yet.
    bool validate() const
    {
        if (!ok)
            return false;
        switch (state) {
        case Constants::States::Hydrated:
            return size == 0;
        case Constants::States::Dehydrated:
            return realSize() == 0;
        default:
            return true;
        }
    }
};

// The claim of a folder by one owner, in "user.tessarn.registration" of the folder itself.
// Doubles as the result of the operations on it: error() is empty exactly when the object
// holds a valid registration.
class Registration {
public:
    TESSARN_EXPORT explicit Registration(const std::filesystem::path& path);
    TESSARN_EXPORT Registration(const std::filesystem::path& path, const std::string& owner);

    TESSARN_EXPORT static Registration fromData(const std::filesystem::path& path,
                                                const std::vector<unsigned char>& data);
    TESSARN_EXPORT static Registration fromAttributes(const std::filesystem::path& path);
    TESSARN_EXPORT std::vector<unsigned char> toData() const;

    TESSARN_EXPORT static Registration registerFilesystem(const std::filesystem::path& folder,
                                                          const std::string& owner);
    TESSARN_EXPORT static bool unregisterFilesystem(const Registration& registration);

    const std::filesystem::path& path() const { return m_path; }
    const std::string& owner() const { return m_owner; }
    std::int32_t version() const { return m_version; }
    const std::string& error() const { return m_error; }
    bool isOk() const { return m_error.empty(); }
    explicit operator bool() const { return isOk(); }

private:
    Registration withError(std::string error) const;

    std::filesystem::path m_path;
    std::string m_owner;
    std::int32_t m_version = 0;
    std::string m_error;
};

} // namespace Tessarn
