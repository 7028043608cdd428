// Reading and writing the placeholder record of a file.
#pragma once

#include <tessarn/tessarn.h>
#include <vdk/result.h>
#include <vdk/syncfileitem.h>

#include <QString>
#include <ctime>
#include <filesystem>

namespace VDK {

// Inside namespace VDK the name Tessarn means the plug-in class, not the library.
using PlaceholderRecord = ::Tessarn::PlaceHolderAttributes;

// The file's record; a file without one, or with one that cannot be decoded (a warning
// says which), gives the default record, which is not ok.
PlaceholderRecord placeHolderAttributes(const std::filesystem::path& path);
PlaceholderRecord placeHolderAttributes(const QString& path);

// A new placeholder record for the client's item, for the file at path.
PlaceholderRecord recordFromItem(const std::filesystem::path& path, const SyncFileItem& item);

// The file's own record, else a new one for the item: a file that vanished, or whose record
// cannot be decoded, gets one rebuilt from what the client knows of it.
PlaceholderRecord storedOrNewRecord(const QString& path, const SyncFileItem& item);

// Stores the record in the file it names.
Result<void, QString> writePlaceHolderAttributes(const PlaceholderRecord& record);
// Stores the record, then gives the file the modification time.
Result<void, QString> writePlaceHolderAttributesWithModTime(const PlaceholderRecord& record,
                                                            std::time_t modTime);

} // namespace VDK
