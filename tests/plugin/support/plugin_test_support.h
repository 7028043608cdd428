// What the plug-in tests share: captured log lines, folders with configuration, real
// mounts that are always undone, and a plug-in object whose folder is set up without a
// daemon.
#pragma once

#include <records.h>
#include <scoped_environment.h>
#include <vfs_tessarn.h>

#include <gtest/gtest.h>

#include <QMutex>
#include <QStringList>
#include <QTemporaryDir>
#include <vdk/syncjournaldb.h>

namespace TestSupport {

// Collects the messages of every logging category while it lives, debug included.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    struct Line {
        QtMsgType type;
        QString category;
        QString message;
    };

    QList<Line> lines() const;
    bool contains(const QString& text) const;
    bool contains(QtMsgType type, const QString& text) const;
    QString all() const; // for failure messages
    void clear();

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& message);

    mutable QMutex mutex;
    QList<Line> captured;
    QtMessageHandler previous = nullptr;
};

// User and system configuration directories of our own, empty until a test fills them.
class ConfigDirectories {
public:
    ConfigDirectories();
    QString userDir() const { return root.filePath(QStringLiteral("user")); }
    QString systemDir() const { return root.filePath(QStringLiteral("system")); }
    // Writes dir/tessarn/config.json, by default the shipped example; returns its path.
    QString writeConfig(const QString& dir, const QByteArray& content = exampleConfig());

    static QByteArray exampleConfig();

private:
    QTemporaryDir root;
    ScopedEnvironment home;
    ScopedEnvironment dirs;
    ScopedEnvironment appImage;
};

bool isMounted(const QString& path);
// Unmounts, lazily if it must, and tells whether the path is free afterwards.
bool unmount(const QString& path);
// Runs a program, waiting at most timeoutMs; its exit status (128 + signal for a killed one),
// or -1 when it did not end in time.
int run(const QString& program, const QStringList& arguments, int timeoutMs = 10000);

// A bindfs mount of source over target, undone when it goes.
class BindMount {
public:
    BindMount(const QString& source, const QString& target, const QStringList& options);
    ~BindMount();
    BindMount(const BindMount&) = delete;
    BindMount& operator=(const BindMount&) = delete;
    bool ok() const { return mounted; }

private:
    QString target;
    bool mounted;
};

// The built daemon, when the tests run beside it (build/bin).
QString builtDaemon();

// The plug-in for a folder, with the parameters set as start() sets them, but no daemon.
class OfflineTessarn : public VDK::Tessarn {
public:
    using Tessarn::Tessarn;

protected:
    void startImpl(const VDK::VfsSetupParams&) override {}
};

// A sync folder in a fresh temporary directory, a journal beside it, and the parameters
// the client would hand the plug-in for it.
class SyncFolder {
public:
    explicit SyncFolder(const QString& name = QStringLiteral("sync folder"));
    QString path() const { return folderPath; }
    QString filePath(const QString& relative) const { return folderPath + u'/' + relative; }
    // A folder standing for the server: relative paths as in the sync folder.
    QString serverPath() const { return base.filePath(QStringLiteral("server")); }
    VDK::SyncJournalDb& journal() { return *db; }
    QUuid accountUuid() const { return account; }
    // Another directory beside the folder, created on demand.
    QString sibling(const QString& name) const;
    VDK::VfsSetupParams params() const;

private:
    QTemporaryDir base;
    QString folderPath;
    std::unique_ptr<VDK::SyncJournalDb> db;
    QUuid account = QUuid::fromString(QStringLiteral("{0f8fad5b-d9cb-469f-a165-70867728950e}"));
};

// A started plug-in over a plain folder, for the operations that need no daemon.
class OfflineFolderTest : public ::testing::Test {
protected:
    using States = ::Tessarn::Constants::States;
    using PinStates = ::Tessarn::Constants::PinStates;

    void SetUp() override { vfs.start(sync.params()); }

    static VDK::SyncFileItem item(const QString& name, CSyncEnums::ItemType type, qint64 size = 1000,
                                  std::time_t modtime = 1600000000);
    VDK::PlaceholderRecord record(const QString& relative) const;
    // Stores a record for the file, creating the file when it is missing.
    void writeRecord(const QString& relative, States state, PinStates pinState, quint64 size = 1000);

    SyncFolder sync;
    LogCapture log;
    OfflineTessarn vfs;
};

bool writeFile(const QString& path, const QByteArray& content);
QByteArray readFile(const QString& path);
// The strings of a list in which each ends with a NUL, as in /proc/PID/cmdline.
QStringList nulTerminated(QByteArray list);
bool setRawXattr(const QString& path, const char* name, const QByteArray& value);
std::time_t modificationTime(const QString& path);

} // namespace TestSupport
