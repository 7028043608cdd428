// The download of one file's content, asked for by a virtual-file plug-in and started by
// the client.
#pragma once

#include "vdk/syncjournalfilerecord.h"

#include <QByteArray>
#include <QFile>
#include <QIODevice>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace VDK {

class Vfs;
struct DownloadFailure;

class HydrationJob : public QObject {
    Q_OBJECT

public:
    enum class Status { Running, Succeeded, Failed, Cancelled };

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
    // from the account's server on a thread of the job's own, so that neither the client
    // nor another download waits for this one. Returns at once: the outcome is either
    // finished() or error(), emitted later from the event loop. The download is complete or
    // an error: a file on the server that ends early, grows or changes meanwhile fails it.
    void start();
    // Stops the download, at once or after the piece it is copying: the job ends through
    // error(), as Cancelled. A job that has ended stays as it ended.
    void cancel();
    // The bytes written into the device so far; may be read from any thread.
    qint64 bytesWritten() const { return m_bytesWritten; }

    // How the job ended, Running until finished() or error(). A virtual-file mode that handles
    // finished() may find that the content cannot become the file's after all: it fails the
    // job with failFinalization(), and whoever is connected after it reads Failed.
    Status status() const { return m_status; }
    void failFinalization(const QString& reason, int systemError = 0);
    QString errorString() const { return m_errorString; }
    // The system's error number behind a failure (a full disk, a file gone on the server), 0
    // when the system did not say why.
    int systemError() const { return m_systemError; }

Q_SIGNALS:
    void finished();
    void error(const QString& message);

private:
    void begin();
    DownloadFailure openTransfer();
    void finish(const DownloadFailure& failure);

    QPointer<Vfs> m_vfs;
    QByteArray m_fileId;
    std::unique_ptr<QIODevice> m_device;
    QString m_targetFileName;
    SyncJournalFileRecord m_record;

    std::unique_ptr<QFile> m_source;
    std::chrono::milliseconds m_latency{0};
    qint64 m_bytesPerSecond = 0;
    QTimer m_latencyTimer;
    std::atomic<qint64> m_bytesWritten{0};
    bool m_cancelled = false;
    Status m_status = Status::Running;
    QString m_errorString;
    int m_systemError = 0;
    // Last, so that it is stopped and joined before anything it uses goes away.
    std::jthread m_transfer;
};

} // namespace VDK
