#include "vdk/syncjournaldb.h"

#include <QFile>
#include <sqlite3.h>

namespace VDK {

namespace {

struct StatementFinalizer {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

constexpr const char* schema = "CREATE TABLE IF NOT EXISTS metadata("
                               " path TEXT PRIMARY KEY, inode INTEGER, modtime INTEGER,"
                               " type INTEGER, etag BLOB, fileid BLOB, filesize INTEGER);"
                               "CREATE INDEX IF NOT EXISTS metadata_fileid ON metadata(fileid);";

QString errorText(sqlite3* db)
{
    return QString::fromUtf8(sqlite3_errmsg(db));
}

Result<Statement, QString> prepare(sqlite3* db, const QByteArray& sql)
{
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), &statement, nullptr) != SQLITE_OK)
        return errorText(db);
    return Statement(statement);
}

// Paths and identifiers are bound as blobs everywhere, so a look-up compares bytes with
// bytes: SQLite never finds a blob equal to a text.
void bindBytes(sqlite3_stmt* statement, int index, const QByteArray& bytes)
{
    sqlite3_bind_blob(statement, index, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
}

QByteArray columnBytes(sqlite3_stmt* statement, int column)
{
    const auto* data = static_cast<const char*>(sqlite3_column_blob(statement, column));
    return QByteArray(data, sqlite3_column_bytes(statement, column));
}

SyncJournalFileRecord recordFromRow(sqlite3_stmt* row)
{
    SyncJournalFileRecord record;
    record.path = columnBytes(row, 0);
    record.inode = quint64(sqlite3_column_int64(row, 1));
    record.modtime = std::time_t(sqlite3_column_int64(row, 2));
    record.type = CSyncEnums::ItemType(sqlite3_column_int(row, 3));
    record.etag = columnBytes(row, 4);
    record.fileId = columnBytes(row, 5);
    record.fileSize = sqlite3_column_int64(row, 6);
    return record;
}

} // namespace

void SyncJournalDb::Closer::operator()(sqlite3* db) const
{
    sqlite3_close(db);
}

SyncJournalDb::SyncJournalDb(const QString& databasePath) : m_databasePath(databasePath) {}

SyncJournalDb::~SyncJournalDb() = default;

Result<void, QString> SyncJournalDb::open()
{
    if (m_db)
        return {};
    sqlite3* db = nullptr;
    const int opened = sqlite3_open(QFile::encodeName(m_databasePath).constData(), &db);
    std::unique_ptr<sqlite3, Closer> guard(db);
    if (opened != SQLITE_OK)
        return db ? errorText(db) : QStringLiteral("out of memory");
    if (sqlite3_exec(db, schema, nullptr, nullptr, nullptr) != SQLITE_OK)
        return errorText(db);
    m_db = std::move(guard);
    return {};
}

Result<void, QString> SyncJournalDb::setFileRecord(const SyncJournalFileRecord& record)
{
    if (auto opened = open(); !opened)
        return opened.error();
    auto statement = prepare(m_db.get(), "INSERT OR REPLACE INTO metadata"
                                         " (path, inode, modtime, type, etag, fileid, filesize)"
                                         " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    if (!statement)
        return statement.error();
    sqlite3_stmt* insert = statement.get().get();
    bindBytes(insert, 1, record.path);
    sqlite3_bind_int64(insert, 2, sqlite3_int64(record.inode));
    sqlite3_bind_int64(insert, 3, sqlite3_int64(record.modtime));
    sqlite3_bind_int(insert, 4, int(record.type));
    bindBytes(insert, 5, record.etag);
    bindBytes(insert, 6, record.fileId);
    sqlite3_bind_int64(insert, 7, record.fileSize);
    if (sqlite3_step(insert) != SQLITE_DONE)
        return errorText(m_db.get());
    return {};
}

Result<Optional<SyncJournalFileRecord>, QString>
SyncJournalDb::findRecord(const char* column, const QByteArray& key)
{
    if (auto opened = open(); !opened)
        return opened.error();
    auto statement = prepare(m_db.get(), QByteArray("SELECT path, inode, modtime, type, etag,"
                                                    " fileid, filesize FROM metadata WHERE ") +
                                             column + " = ?1");
    if (!statement)
        return statement.error();
    sqlite3_stmt* query = statement.get().get();
    bindBytes(query, 1, key);
    switch (sqlite3_step(query)) {
    case SQLITE_ROW:
        return Optional<SyncJournalFileRecord>(recordFromRow(query));
    case SQLITE_DONE:
        return Optional<SyncJournalFileRecord>();
    default:
        return errorText(m_db.get());
    }
}

Result<Optional<SyncJournalFileRecord>, QString> SyncJournalDb::getFileRecord(const QByteArray& path)
{
    return findRecord("path", path);
}

Result<Optional<SyncJournalFileRecord>, QString>
SyncJournalDb::getFileRecordByFileId(const QByteArray& fileId)
{
    return findRecord("fileid", fileId);
}

} // namespace VDK
