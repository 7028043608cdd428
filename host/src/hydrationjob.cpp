#include "vdk/hydrationjob.h"

#include "vdk/syncjournaldb.h"
#include "vdk/vfs.h"

#include <QDir>
#include <QFile>

namespace VDK {

HydrationJob::HydrationJob(Vfs* vfs, const QByteArray& fileId, std::unique_ptr<QIODevice> device,
                           QObject* parent)
    : QObject(parent), m_vfs(vfs), m_fileId(fileId), m_device(std::move(device))
{
}

HydrationJob::~HydrationJob() = default;

void HydrationJob::start()
{
    QMetaObject::invokeMethod(this, &HydrationJob::run, Qt::QueuedConnection);
}

void HydrationJob::run()
{
    QString failure;
    try {
        failure = download();
    } catch (const std::exception& exception) {
        failure = QString::fromUtf8(exception.what());
    }
    if (m_device->isOpen())
        m_device->close();
    if (failure.isEmpty())
        Q_EMIT finished();
    else
        Q_EMIT error(failure);
}

// The reason of a failure, or the empty text.
QString HydrationJob::download()
{
    if (!m_vfs)
        return QStringLiteral("The folder of the file is gone");
    const VfsSetupParams& params = m_vfs->params();
    if (!params.journal || !params.account)
        return QStringLiteral("The folder has no journal or no account");
    const auto found = params.journal->getFileRecordByFileId(m_fileId);
    if (!found)
        return found.error();
    if (!found->has_value())
        return QStringLiteral("No journal record for the file id %1").arg(QString::fromUtf8(m_fileId));
    m_record = **found;

    const QUrl server = params.account->url();
    if (!server.isLocalFile())
        return QStringLiteral("Only local servers are supported, not %1").arg(server.toString());
    QFile source(QDir(server.toLocalFile()).filePath(QString::fromUtf8(m_record.path)));
    if (!source.open(QIODevice::ReadOnly))
        return source.errorString();
    // Unbuffered, so that a failed write shows here rather than in a flush on close.
    if (!m_device->isOpen() && !m_device->open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return m_device->errorString();
    return copyContent(source);
}

QString HydrationJob::copyContent(QIODevice& source)
{
    constexpr qint64 chunkSize = 64 * 1024;
    while (!source.atEnd()) {
        const QByteArray chunk = source.read(chunkSize);
        if (chunk.isEmpty())
            return source.errorString();
        if (m_device->write(chunk) != chunk.size())
            return m_device->errorString();
    }
    return {};
}

} // namespace VDK
