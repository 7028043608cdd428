// What every test program of Qt code may use beside its main(): an environment variable
// that a test changes, put back as it was however the test ends.
#pragma once

#include <QByteArray>

namespace TestSupport {

// Sets an environment variable for a test, or unsets it for a null value, and restores the
// old value afterwards.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const QByteArray& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    QByteArray name;
    bool wasSet;
    QByteArray oldValue;
};

} // namespace TestSupport
