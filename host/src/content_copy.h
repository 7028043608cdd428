// The copy of a download's bytes, run on a thread of its own so that a slow disk or a capped
// bandwidth holds only that download.
#pragma once

#include <QIODevice>
#include <QString>
#include <atomic>
#include <stop_token>

namespace VDK {

// Why a download failed, and the system's error number when the system said why: a full disk,
// a file gone. No text: no failure.
struct DownloadFailure {
    QString text;
    int systemError = 0;

    bool failed() const { return !text.isEmpty(); }
};

struct CopyRequest {
    int source = -1;       // the server's file, read from its start
    QIODevice* target;     // open for writing
    qint64 bytesPerSecond; // 0: no cap
};

// Copies the whole source into the target, counting the bytes into written as they land. No
// failure when the target holds exactly what the source held from the first byte to the last;
// a source that ends early, grows or is rewritten meanwhile is a failure, as is a stop request.
DownloadFailure copyContent(const CopyRequest& request, std::atomic<qint64>& written,
                            std::stop_token stop);

// The failure the system reported with errno.
DownloadFailure systemFailure(int error);
// The end of a download that was stopped on purpose.
DownloadFailure cancelledDownload();

} // namespace VDK
