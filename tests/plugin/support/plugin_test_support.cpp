#include "plugin_test_support.h"

#include <process.h>
#include <test_support.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMutexLocker>
#include <sys/stat.h>
#include <sys/xattr.h>

namespace TestSupport {

namespace {

LogCapture* activeCapture = nullptr;

std::filesystem::path mountPath(const QString& path)
{
    return QFile::encodeName(QDir::cleanPath(path)).toStdString();
}

} // namespace

LogCapture::LogCapture()
{
    QLoggingCategory::setFilterRules(QStringLiteral("sync.*.debug=true"));
    activeCapture = this;
    previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(previous);
    activeCapture = nullptr;
    QLoggingCategory::setFilterRules(QString());
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (!activeCapture)
        return;
    QMutexLocker lock(&activeCapture->mutex);
    activeCapture->captured.append({type, QString::fromUtf8(context.category), message});
}

QList<LogCapture::Line> LogCapture::lines() const
{
    QMutexLocker lock(&mutex);
    return captured;
}

bool LogCapture::contains(const QString& text) const
{
    const auto all = lines();
    return std::any_of(all.cbegin(), all.cend(), [&](const Line& l) { return l.message.contains(text); });
}

bool LogCapture::contains(QtMsgType type, const QString& text) const
{
    const auto all = lines();
    return std::any_of(all.cbegin(), all.cend(),
                       [&](const Line& l) { return l.type == type && l.message.contains(text); });
}

QString LogCapture::all() const
{
    QStringList text;
    for (const Line& line : lines())
        text.append(line.category + QStringLiteral(": ") + line.message);
    return text.join(u'\n');
}

void LogCapture::clear()
{
    QMutexLocker lock(&mutex);
    captured.clear();
}

ConfigDirectories::ConfigDirectories()
    : home("XDG_CONFIG_HOME", root.filePath(QStringLiteral("user")).toUtf8()),
      dirs("XDG_CONFIG_DIRS", root.filePath(QStringLiteral("system")).toUtf8()),
      appImage("APPIMAGE", QByteArray())
{
}

QString ConfigDirectories::writeConfig(const QString& dir, const QByteArray& content)
{
    QDir().mkpath(dir + QStringLiteral("/tessarn"));
    const QString path = dir + QStringLiteral("/tessarn/config.json");
    writeFile(path, content);
    return path;
}

QByteArray ConfigDirectories::exampleConfig()
{
    return readFile(QStringLiteral(TESSARN_EXAMPLE_CONFIG));
}

bool isMounted(const QString& path)
{
    return TessarnTest::isMounted(mountPath(path), {});
}

int run(const QString& program, const QStringList& arguments, int timeoutMs)
{
    std::vector<std::string> command{QFile::encodeName(program).toStdString()};
    for (const QString& argument : arguments)
        command.push_back(QFile::encodeName(argument).toStdString());
    return TessarnTest::runProgram(command, std::chrono::milliseconds(timeoutMs)).status;
}

bool unmount(const QString& path)
{
    if (isMounted(path))
        TessarnTest::unmountFolder(mountPath(path));
    return !isMounted(path);
}

BindMount::BindMount(const QString& source, const QString& target, const QStringList& options)
    : target(target)
{
    QDir().mkpath(source);
    QDir().mkpath(target);
    mounted = run(QStringLiteral("bindfs"), options + QStringList{source, target}) == 0 &&
              isMounted(target);
}

BindMount::~BindMount()
{
    unmount(target);
}

QString builtDaemon()
{
    const QString daemon = QCoreApplication::applicationDirPath() + QStringLiteral("/tessarn");
    return QFileInfo(daemon).isExecutable() ? daemon : QString();
}

SyncFolder::SyncFolder(const QString& name)
    : folderPath(base.filePath(name)), db(std::make_unique<VDK::SyncJournalDb>(base.filePath(QStringLiteral("journal.db"))))
{
    QDir().mkpath(folderPath);
    QDir().mkpath(serverPath());
}

QString SyncFolder::sibling(const QString& name) const
{
    const QString path = base.filePath(name);
    QDir().mkpath(path);
    return path;
}

VDK::VfsSetupParams SyncFolder::params() const
{
    VDK::VfsSetupParams params;
    params.filesystemPath = folderPath;
    params.account = VDK::AccountPtr::create(account, QUrl::fromLocalFile(serverPath()));
    params.journal = db.get();
    params.socketApiPath = base.filePath(QStringLiteral("socket"));
    return params;
}

VDK::SyncFileItem OfflineFolderTest::item(const QString& name, CSyncEnums::ItemType type,
                                          qint64 size, std::time_t modtime)
{
    VDK::SyncFileItem item;
    item.file = name;
    item.type = type;
    item.size = size;
    item.modtime = modtime;
    item.etag = "etag-" + name.toUtf8();
    item.fileId = "id-" + name.toUtf8();
    return item;
}

VDK::PlaceholderRecord OfflineFolderTest::record(const QString& relative) const
{
    return VDK::placeHolderAttributes(sync.filePath(relative));
}

void OfflineFolderTest::writeRecord(const QString& relative, States state, PinStates pinState,
                                    quint64 size)
{
    const QString path = sync.filePath(relative);
    if (!QFileInfo::exists(path)) {
        ASSERT_TRUE(writeFile(path, QByteArray()));
    }
    const VDK::PlaceholderRecord stored(VDK::FileSystem::toFilesystemPath(path), "etag",
                                        "id-" + relative.toStdString(), size, state, pinState);
    ASSERT_TRUE(VDK::writePlaceHolderAttributes(stored));
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList nulTerminated(QByteArray list)
{
    list.chop(1);
    QStringList strings;
    for (const QByteArray& string : list.split('\0'))
        strings.append(QString::fromUtf8(string));
    return strings;
}

bool setRawXattr(const QString& path, const char* name, const QByteArray& value)
{
    return ::lsetxattr(QFile::encodeName(path).constData(), name, value.constData(),
                       value.size(), 0) == 0;
}

std::time_t modificationTime(const QString& path)
{
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mtim.tv_sec : -1;
}

} // namespace TestSupport
