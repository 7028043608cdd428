// The client's side of a hydration: a request from the daemon becomes a job of the
// plug-in, and the job's end becomes the answer, once the record is up to date.
#pragma once

#include "socket_api.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <chrono>

namespace VDK {
class HydrationJob;
class SyncJournalDb;
class Vfs;
} // namespace VDK

namespace SyncHost {

// The simulated network between us and the server: off when both are 0.
struct Throttle {
    std::chrono::milliseconds latency{0};
    qint64 bytesPerSecond = 0;
};

class HydrationService : public QObject {
    Q_OBJECT

public:
    // With reportProgress, every download that takes longer than a second reports every
    // second how far it has come.
    HydrationService(VDK::Vfs& vfs, VDK::SyncJournalDb& journal, const QString& folder,
                     Throttle throttle, bool reportProgress, QObject* parent = nullptr);

    // Requests that arrive before this are held: until the remote is mirrored, the journal
    // does not know the files they name.
    void setReady();
    void request(const AnswerChannel& channel, const HydrationRequest& request);
    // Answers every waiting request with the reason; the running jobs are left to end.
    void abandonAll(const QString& reason);

private:
    struct Waiter {
        AnswerChannel channel;
        QByteArray requestId;
    };
    struct Running {
        QPointer<VDK::HydrationJob> job;
        QString relativePath;
        qint64 size = 0;
        QElapsedTimer clock;
        QList<Waiter> waiters;
    };

    // OK when failure is empty.
    static void answer(const Waiter& waiter, const QString& failure, int systemError = 0);
    void serve(const Waiter& waiter, const HydrationRequest& request);
    // The reason the request cannot be served, or nothing once the file is on its way or here.
    QString startHydration(const Waiter& waiter, const HydrationRequest& request);
    void jobEnded(const QByteArray& fileId, const VDK::HydrationJob& job);
    void reportProgress() const;

    VDK::Vfs& m_vfs;
    VDK::SyncJournalDb& m_journal;
    QString m_folder;
    Throttle m_throttle;
    bool m_ready = false;
    QList<std::pair<Waiter, HydrationRequest>> m_held;
    QHash<QByteArray, Running> m_running; // by file id
    QTimer m_progressReport;
};

} // namespace SyncHost
