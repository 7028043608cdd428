// GoogleTest entry for tests of Qt code: QProcess, timers and queued signals need an
// application object and its event loop.
#include "scoped_environment.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

namespace TestSupport {

ScopedEnvironment::ScopedEnvironment(const char* name, const QByteArray& value)
    : name(name), wasSet(qEnvironmentVariableIsSet(name)), oldValue(qgetenv(name))
{
    if (value.isNull())
        qunsetenv(name);
    else
        qputenv(name, value);
}

ScopedEnvironment::~ScopedEnvironment()
{
    if (wasSet)
        qputenv(name.constData(), oldValue);
    else
        qunsetenv(name.constData());
}

} // namespace TestSupport

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
