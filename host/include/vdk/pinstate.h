// The client's pin states and the availability it shows for files and folders.
#pragma once

#include <QtGlobal>

namespace VDK {

// What the user asked to keep of a file or folder.
enum class PinState : quint8 {
    Inherited = 0,   // whatever the parent folder says
    AlwaysLocal = 1, // content kept on this machine
    OnlineOnly = 2,  // content only on the server
    Unspecified = 3, // nobody asked
    Excluded = 4,    // not synchronised
};

// How much of a file or folder is present locally, as the client's menus show it.
enum class VfsItemAvailability : quint8 {
    AlwaysLocal = 0,
    AllHydrated = 1,
    Mixed = 2,
    AllDehydrated = 3,
    OnlineOnly = 4,
};

} // namespace VDK
