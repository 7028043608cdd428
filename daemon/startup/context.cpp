#include "startup/context.h"

#include <atomic>

namespace TessarnFuse {

namespace {
std::atomic<const DaemonContext*> published{nullptr};
}

const DaemonContext* daemonContext()
{
    return published.load(std::memory_order_acquire);
}

void publishContext(const DaemonContext* context)
{
    published.store(context, std::memory_order_release);
}

} // namespace TessarnFuse
