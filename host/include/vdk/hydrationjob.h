// The download of one file's content, asked for by a virtual-file plug-in and started by
// the client.
#pragma once

#include "vdk/syncjournalfilerecord.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QIODevice>
#include <QObject>
#include <QPointer>
#include <QString>
#include <chrono>
#include <memory>

namespace VDK {

class Vfs;

class HydrationJob : public QObject {
    Q_OBJECT

public:
    // The job writes the content into device, opening it for writing unless it is open.
    HydrationJob(Vfs* vfs, const QByteArray& fileId, std::unique_ptr<QIODevice> device,
                 QObject* parent);
    ~HydrationJob() override;

    QByteArray fileId() const { return m_fileId; }
    void setTargetFile(const QString& fileName) { m_targetFileName = fileName; }
    QString targetFileName() const { return m_targetFileName; }
    // The file's journal row, known once the job has run.
    SyncJournalFileRecord record() const { return m_record; }

    // The stand-in's server is a local folder, which answers at once and at disk speed; a
    // throttle makes it behave like one across a network: the latency passes before the
    // first byte, and the content arrives at most bytesPerSecond fast (0: no cap). Set it
    // before start().
    void setThrottle(std::chrono::milliseconds latency, qint64 bytesPerSecond);

    // Looks the file up in the folder's journal by its identifier and copies its content
    // from the account's server, piece by piece from the event loop, so that the client
    // stays responsive during a long download. Returns at once: the outcome is either
    // finished() or error(), emitted later from the event loop.
    void start();

Q_SIGNALS:
    void finished();
    void error(const QString& message);

private:
    void begin();
    void copyNextChunk();
    qint64 chunkSize() const;
    void scheduleNextChunk();
    // Ends the job; failure is the reason, empty on success.
    void finish(const QString& failure);
    QString openTransfer();

    QPointer<Vfs> m_vfs;
    QByteArray m_fileId;
    std::unique_ptr<QIODevice> m_device;
    QString m_targetFileName;
    SyncJournalFileRecord m_record;

    std::unique_ptr<QFile> m_source;
    std::chrono::milliseconds m_latency{0};
    qint64 m_bytesPerSecond = 0;
    qint64 m_bytesCopied = 0;
    QElapsedTimer m_transferClock;
};

} // namespace VDK
