#include "remote_scan.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFileInfo>
#include <filesystem>
#include <vdk/filesystem.h>

namespace SyncHost {

namespace {

namespace fs = std::filesystem;

VDK::SyncFileItem itemFor(const QString& relative, const QFileInfo& remoteFile)
{
    VDK::SyncFileItem item;
    item.file = relative;
    item.type = CSyncEnums::ItemTypeVirtualFile;
    item.modtime = remoteFile.lastModified().toSecsSinceEpoch();
    item.size = remoteFile.size();
    item.etag = entityTagFor(item.size, remoteFile.lastModified().toMSecsSinceEpoch());
    item.fileId = fileIdFor(relative);
    return item;
}

// The journal, the socket messages and the logs carry names as UTF-8 text.
bool isUtf8(const QByteArray& name)
{
    return QString::fromUtf8(name).toUtf8() == name;
}

// Symbolic links and special files have no content to download.
QString reasonToLeaveOut(fs::file_type type)
{
    switch (type) {
    case fs::file_type::symlink:
        return QStringLiteral("it is a symbolic link");
    case fs::file_type::fifo:
        return QStringLiteral("it is a named pipe");
    case fs::file_type::socket:
        return QStringLiteral("it is a socket");
    case fs::file_type::block:
    case fs::file_type::character:
        return QStringLiteral("it is a device");
    default:
        return QStringLiteral("it is neither a file nor a folder");
    }
}

class Scanner {
public:
    explicit Scanner(const QString& remote) : m_root(VDK::FileSystem::toFilesystemPath(remote)) {}

    void scanFolder(const fs::path& relative)
    {
        std::error_code error;
        fs::directory_iterator entries(m_root / relative, error);
        for (; !error && entries != fs::directory_iterator(); entries.increment(error))
            scanEntry(*entries, relative / entries->path().filename());
        if (error)
            leaveOut(relative.empty() ? fs::path(".") : relative,
                     QStringLiteral("the folder cannot be read, nothing in it is served: %1")
                         .arg(QString::fromStdString(error.message())));
    }

    RemoteTree take() { return std::move(m_tree); }

private:
    void scanEntry(const fs::directory_entry& entry, const fs::path& relative)
    {
        std::error_code error;
        const fs::file_type type = entry.symlink_status(error).type();
        const QByteArray name = QByteArray::fromStdString(relative.native());
        if (error) {
            leaveOut(relative, QStringLiteral("it cannot be examined: %1")
                                   .arg(QString::fromStdString(error.message())));
        } else if (!isUtf8(name)) {
            leaveOut(relative, type == fs::file_type::directory
                                   ? QStringLiteral("its name is not valid UTF-8, so nothing in "
                                                    "it is served either")
                                   : QStringLiteral("its name is not valid UTF-8"));
        } else if (type == fs::file_type::directory) {
            m_tree.folders.append(QString::fromUtf8(name));
            scanFolder(relative);
        } else if (type == fs::file_type::regular) {
            const QFileInfo remoteFile(
                QFile::decodeName(QByteArray::fromStdString(entry.path().native())));
            m_tree.files.append(itemFor(QString::fromUtf8(name), remoteFile));
        } else {
            leaveOut(relative, reasonToLeaveOut(type));
        }
    }

    void leaveOut(const fs::path& relative, const QString& reason)
    {
        m_tree.leftOut.append({QByteArray::fromStdString(relative.native()), reason});
    }

    fs::path m_root;
    RemoteTree m_tree;
};

} // namespace

QByteArray fileIdFor(const QString& relativePath)
{
    return QCryptographicHash::hash(relativePath.toUtf8(), QCryptographicHash::Sha1)
        .toHex()
        .left(20);
}

QByteArray entityTagFor(qint64 size, qint64 modifiedMs)
{
    return QByteArray::number(modifiedMs, 16) + '-' + QByteArray::number(size, 16);
}

RemoteTree scanRemote(const QString& remote)
{
    Scanner scanner(remote);
    scanner.scanFolder({});
    RemoteTree tree = scanner.take();
    tree.folders.sort();
    std::sort(tree.files.begin(), tree.files.end(),
              [](const auto& a, const auto& b) { return a.file < b.file; });
    std::sort(tree.leftOut.begin(), tree.leftOut.end(),
              [](const auto& a, const auto& b) { return a.relativePath < b.relativePath; });
    return tree;
}

} // namespace SyncHost
