// The copy of a download's bytes, run on a thread of its own so that a slow disk or a capped
// bandwidth holds only that download.
#pragma once

#include <QIODevice>
#include <QString>
#include <atomic>
#include <stop_token>

namespace VDK {

struct CopyRequest {
    int source = -1;       // the server's file, read from its start
    QIODevice* target;     // open for writing
    qint64 bytesPerSecond; // 0: no cap
};

// Copies the whole source into the target, counting the bytes into written as they land. The
// failure text, or the empty text when the target holds exactly what the source held from
// the first byte to the last; a source that ends early, grows or is rewritten meanwhile is a
// failure, as is a stop request.
QString copyContent(const CopyRequest& request, std::atomic<qint64>& written, std::stop_token stop);

} // namespace VDK
