// The client's journal: what it last synchronised, one row per file, in SQLite.
#pragma once

#include "vdk/result.h"
#include "vdk/syncjournalfilerecord.h"

#include <QString>
#include <memory>

struct sqlite3;

namespace VDK {

class SyncJournalDb {
public:
    // The database file is created on first use.
    explicit SyncJournalDb(const QString& databasePath);
    ~SyncJournalDb();
    SyncJournalDb(const SyncJournalDb&) = delete;
    SyncJournalDb& operator=(const SyncJournalDb&) = delete;

    QString databasePath() const { return m_databasePath; }

    // Inserts the record, or replaces the one with the same path.
    Result<void, QString> setFileRecord(const SyncJournalFileRecord& record);

    // An empty optional when there is no such row.
    Result<Optional<SyncJournalFileRecord>, QString> getFileRecord(const QByteArray& path);
    Result<Optional<SyncJournalFileRecord>, QString> getFileRecordByFileId(const QByteArray& fileId);

private:
    struct Closer {
        void operator()(sqlite3* db) const;
    };

    Result<void, QString> open();
    Result<Optional<SyncJournalFileRecord>, QString> findRecord(const char* column,
                                                                 const QByteArray& key);

    QString m_databasePath;
    std::unique_ptr<sqlite3, Closer> m_db;
};

} // namespace VDK
