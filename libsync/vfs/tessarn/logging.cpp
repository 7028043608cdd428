#include "logging.h"

namespace VDK {

Q_LOGGING_CATEGORY(lcTessarn, "sync.vfs.tessarn", QtInfoMsg)

} // namespace VDK
