#pragma once

#include <QLoggingCategory>

namespace VDK {

// "sync.vfs.tessarn": info and above by default, debug when a logging rule enables it.
Q_DECLARE_LOGGING_CATEGORY(lcTessarn)

} // namespace VDK
