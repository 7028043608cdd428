// The local scanner's item types and the entries it produces.
#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <ctime>

namespace CSyncEnums {

enum ItemType : quint8 {
    ItemTypeFile = 0,
    ItemTypeSoftLink = 1,
    ItemTypeDirectory = 2,
    ItemTypeSkip = 3,
    ItemTypeVirtualFile = 4,              // a dehydrated placeholder
    ItemTypeVirtualFileDownload = 5,      // a placeholder to be hydrated
    ItemTypeVirtualFileDehydration = 6,   // a file to be turned back into a placeholder
    ItemTypeVirtualDirectory = 7,         // a folder whose entries are not fetched yet
};

} // namespace CSyncEnums

// One entry of a local scan. The type shares its byte with the scanner's flags, so a
// plug-in that reclassifies an entry writes the four type bits only.
struct csync_file_stat_s {
    CSyncEnums::ItemType type : 4 = CSyncEnums::ItemTypeFile;
    bool child_modified : 1 = false;
    bool has_ignored_files : 1 = false;
    bool is_hidden : 1 = false;
    bool is_e2e_encrypted : 1 = false;
    QByteArray path; // relative to the scanned base directory
};
using csync_file_stat_t = csync_file_stat_s;
