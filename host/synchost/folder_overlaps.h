// The remote, the sync folder and synchost's own files must lie apart. A sync folder that is
// the remote, or lies inside it, would turn the remote's own files into empty placeholders;
// one around it, or a state folder inside either, would mirror synchost's own files into
// itself, run after run.
#pragma once

#include "host_options.h"

#include <QString>
#include <optional>

namespace SyncHost {

// Why the paths cannot be served as given, or nothing. Links are resolved, as far as the paths
// exist, so that no way of writing a folder hides that it is another.
std::optional<QString> overlapRefusal(const HostOptions& options);

} // namespace SyncHost
