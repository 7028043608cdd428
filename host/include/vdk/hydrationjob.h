// The download of one file's content, asked for by a virtual-file plug-in and started by
// the client.
#pragma once

#include "vdk/syncjournalfilerecord.h"

#include <QByteArray>
#include <QIODevice>
#include <QObject>
#include <QPointer>
#include <QString>
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

    // Looks the file up in the folder's journal by its identifier and copies its content
    // from the account's server. Returns at once: the outcome is either finished() or
    // error(), emitted later from the event loop.
    void start();

Q_SIGNALS:
    void finished();
    void error(const QString& message);

private:
    void run();
    QString download();
    QString copyContent(QIODevice& source);

    QPointer<Vfs> m_vfs;
    QByteArray m_fileId;
    std::unique_ptr<QIODevice> m_device;
    QString m_targetFileName;
    SyncJournalFileRecord m_record;
};

} // namespace VDK
