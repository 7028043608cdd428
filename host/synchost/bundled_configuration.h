// The daemon's configuration that comes with synchost, for machines that have none.
#pragma once

namespace SyncHost {

// Where no user or system configuration of the daemon exists, the one that comes with
// synchost (etc/xdg beside its bin/, in the build tree as under an installation prefix)
// is made visible to the plug-in through XDG_CONFIG_DIRS.
void useBundledConfiguration();

} // namespace SyncHost
