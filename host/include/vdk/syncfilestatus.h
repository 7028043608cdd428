// The status the client shows for a file, for example as an overlay icon.
#pragma once

#include <QtGlobal>

namespace VDK {

class SyncFileStatus {
public:
    enum SyncFileStatusTag : quint8 {
        StatusNone = 0,
        StatusSync = 1,
        StatusWarning = 2,
        StatusUpToDate = 3,
        StatusError = 4,
        StatusExcluded = 5,
    };

    SyncFileStatus() = default;
    SyncFileStatus(SyncFileStatusTag tag) : m_tag(tag) {}

    SyncFileStatusTag tag() const { return m_tag; }

private:
    SyncFileStatusTag m_tag = StatusNone;
};

} // namespace VDK
