// The file a download writes into, held open from the request to the job's end: the content,
// the record and the modification time all go to the file the application opened, wherever a
// rename of it or of its folders takes it meanwhile.
#pragma once

#include "records.h"

#include <vdk/result.h>

#include <QFile>
#include <QString>
#include <ctime>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <utility>

namespace VDK {

class HydrationTarget {
public:
    // Opens the file for the download, emptying it; the reason when it cannot.
    static Result<std::shared_ptr<HydrationTarget>, QString> open(const QString& path);
    // The file by the name it was asked for, as it is; null when it cannot be opened. For a
    // download whose file was opened through the mount of a daemon that has died since.
    static std::shared_ptr<HydrationTarget> reopen(const QString& path);

    HydrationTarget(int fd, QString path) : m_fd(fd), m_path(std::move(path)) {}
    ~HydrationTarget();
    HydrationTarget(const HydrationTarget&) = delete;
    HydrationTarget& operator=(const HydrationTarget&) = delete;

    // As requested, for the log: the file may have another name now.
    const QString& path() const { return m_path; }

    // A device of its own on the file, for the job to write the content through.
    std::unique_ptr<QFile> device() const;
    std::optional<struct stat> status() const;
    // The file lost its last name: nobody will ever open it again.
    bool removed() const;
    // The mount the file was opened through has gone with its daemon.
    bool mountGone() const;
    // The file's record; the default record, which is not ok, when it has none or one that
    // cannot be decoded.
    PlaceholderRecord record() const;
    Result<void, QString> writeRecord(const PlaceholderRecord& record) const;
    Result<void, QString> setModTime(std::time_t modTime) const;
    Result<void, QString> empty() const;

private:
    int m_fd;
    QString m_path;
};

} // namespace VDK
