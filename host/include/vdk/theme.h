// The client's branding.
#pragma once

#include <QString>

namespace VDK {

class Theme {
public:
    static Theme* instance();

    // "Halvorine" unless a branded build or a test sets another name.
    QString appName() const { return m_appName; }
    void setAppName(const QString& name) { m_appName = name; }

private:
    Theme() = default;
    QString m_appName = QStringLiteral("Halvorine");
};

} // namespace VDK
