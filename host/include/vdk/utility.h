// Small questions about the environment the client runs in.
#pragma once

namespace VDK::Utility {

// True inside an AppImage bundle, whose runtime sets APPIMAGE to the bundle's path.
bool runningInAppImage();

} // namespace VDK::Utility
