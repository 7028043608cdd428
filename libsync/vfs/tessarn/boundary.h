// The plug-in runs inside the sync client: nothing it throws may reach the client, whose
// event loop and sync engine know nothing of our exceptions.
#pragma once

#include "logging.h"

#include <QString>
#include <exception>
#include <type_traits>
#include <utility>

namespace VDK {

// Runs body; if it throws, logs a warning naming the operation and returns
// onFailure(reason) instead.
template <typename Body, typename OnFailure>
auto guarded(const char* operation, Body&& body, OnFailure&& onFailure) noexcept
    -> decltype(body())
{
    QString reason;
    try {
        return body();
    } catch (const std::exception& exception) {
        reason = QString::fromUtf8(exception.what());
    } catch (...) {
        reason = QStringLiteral("unknown error");
    }
    qCWarning(lcTessarn) << operation << "failed:" << reason;
    return onFailure(reason);
}

// For operations whose result carries the reason of a failure, or that have no result:
// then the warning is all there is to do.
template <typename Body> auto guarded(const char* operation, Body&& body) noexcept
{
    using Outcome = decltype(body());
    return guarded(operation, std::forward<Body>(body), [](const QString& reason) {
        if constexpr (!std::is_void_v<Outcome>)
            return Outcome(reason);
    });
}

} // namespace VDK
