// Turns SIGINT and SIGTERM into a Qt signal delivered by the event loop: the handler only
// writes to a pipe, and all the work of stopping happens on the event loop's thread.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace SyncHost {

class SignalWatcher : public QObject {
    Q_OBJECT

public:
    // One watcher per process: the handlers share its pipe.
    explicit SignalWatcher(QObject* parent = nullptr);
    ~SignalWatcher() override;

Q_SIGNALS:
    void stopRequested(int signalNumber);

private:
    void drain();

    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace SyncHost
