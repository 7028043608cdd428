#include "fuse/placeholder_record.h"

#include "fuse/inode_xattr.h"

#include <limits>
#include <nlohmann/json.hpp>

namespace TessarnFuse {

std::optional<Tessarn::PlaceHolderAttributes> placeholderRecord(int fd, const std::string& path)
{
    const auto bytes = InodeXattr::value(fd, Tessarn::Constants::placeholderAttribute.data());
    if (!bytes)
        return std::nullopt;
    try {
        auto record =
            Tessarn::PlaceHolderAttributes::fromData(path, {bytes->begin(), bytes->end()});
        // A size the kernel cannot take would make every look-up of the file fail.
        if (record.size > static_cast<unsigned long>(std::numeric_limits<off_t>::max()))
            throw UndecodableRecord("the size " + std::to_string(record.size) +
                                    " is larger than any file");
        return record;
    } catch (const nlohmann::json::exception& e) {
        throw UndecodableRecord(e.what());
    }
}

std::optional<off_t> placeholderSize(int fd)
{
    try {
        if (const auto record = placeholderRecord(fd, {}))
            return static_cast<off_t>(record->size);
    } catch (const UndecodableRecord&) {
        // No reason to stop serving the file: its plain size stands.
    }
    return std::nullopt;
}

} // namespace TessarnFuse
