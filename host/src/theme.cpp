#include "vdk/theme.h"
#include "vdk/utility.h"

#include <QtGlobal>

namespace VDK {

Theme* Theme::instance()
{
    static Theme theme;
    return &theme;
}

bool Utility::runningInAppImage()
{
    return !qEnvironmentVariableIsEmpty("APPIMAGE");
}

} // namespace VDK
