#include "vdk/vfs.h"

namespace VDK {

void Vfs::start(const VfsSetupParams& params)
{
    m_setupParams = params;
    startImpl(params);
}

PluginFactory::~PluginFactory() = default;

} // namespace VDK
