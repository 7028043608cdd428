#include "plugin_test_support.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <sys/stat.h>

using namespace VDK;
using namespace TestSupport;

namespace {

// A file on the server, known to the journal, and its placeholder in the folder.
class Hydration : public OfflineFolderTest {
protected:
    void SetUp() override
    {
        OfflineFolderTest::SetUp();
        ASSERT_TRUE(writeFile(sync.serverPath() + QStringLiteral("/report.txt"), content));
        remote = item(QStringLiteral("report.txt"), CSyncEnums::ItemTypeVirtualFile, content.size(), 1300000000);
        ASSERT_TRUE(sync.journal().setFileRecord(SyncFileItem::fromSyncFileItem(remote)));
        ASSERT_TRUE(vfs.createPlaceholder(remote));
    }

    QString target() const { return sync.filePath(remote.file); }

    // Starts the job as the client would and waits until the plug-in has dropped it.
    void runToEnd(HydrationJob* job)
    {
        QPointer<HydrationJob> watched(job);
        job->start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return watched.isNull(); }, 5000))
            << "the job is deleted once it ended; log:\n" << log.all().toStdString();
    }

    const QByteArray content = QByteArray("remote content of the report\n").repeated(100);
    SyncFileItem remote;
};

} // namespace

TEST_F(Hydration, AJobBringsTheContentThenTheJournalAndRecordFollow)
{
    HydrationJob* job = vfs.hydrateFile(remote.fileId, target());
    ASSERT_NE(job, nullptr);
    EXPECT_EQ(job->parent(), nullptr);
    EXPECT_EQ(job->targetFileName(), target());
    EXPECT_EQ(record(remote.file).state, States::Hydrating);
    EXPECT_TRUE(log.contains(QtInfoMsg, QStringLiteral("Requesting hydration for")));

    runToEnd(job);
    EXPECT_EQ(readFile(target()), content);
    const PlaceholderRecord stored = record(remote.file);
    ASSERT_TRUE(stored.isOk());
    EXPECT_EQ(stored.state, States::Hydrated);
    EXPECT_EQ(stored.size, 0u);
    EXPECT_EQ(stored.fileId, remote.fileId.toStdString());
    EXPECT_EQ(modificationTime(target()), 1300000000);
    EXPECT_TRUE(log.contains(QtInfoMsg, QStringLiteral("Hydration succeeded")));

    struct stat status {};
    ASSERT_EQ(::stat(QFile::encodeName(target()).constData(), &status), 0);
    const auto row = sync.journal().getFileRecordByFileId(remote.fileId);
    ASSERT_TRUE(row && row->has_value());
    EXPECT_EQ((*row)->type, CSyncEnums::ItemTypeFile);
    EXPECT_EQ((*row)->inode, quint64(status.st_ino));
    EXPECT_EQ((*row)->path, "report.txt");
}

TEST_F(Hydration, ASecondRequestWaitsUntilTheFirstJobHasEnded)
{
    HydrationJob* first = vfs.hydrateFile(remote.fileId, target());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(vfs.hydrateFile(remote.fileId, target()), nullptr);
    EXPECT_TRUE(log.contains(QtWarningMsg, QStringLiteral("Ignoring hydration request for running hydration for fileId")));

    runToEnd(first);
    ASSERT_TRUE(record(remote.file).isOk());
    EXPECT_EQ(record(remote.file).state, States::Hydrated);
    HydrationJob* again = vfs.hydrateFile(remote.fileId, target());
    ASSERT_NE(again, nullptr) << "accepted once the first job has ended";
    runToEnd(again);
}

// The server's file grows in the middle of the download: what was written is no version of it.
TEST_F(Hydration, AFailedJobLeavesAnEmptyPlaceholderThatAsksAgain)
{
    const QString server = sync.serverPath() + QStringLiteral("/report.txt");
    ASSERT_TRUE(writeFile(server, QByteArray(2 * 1024 * 1024, 'l')));
    HydrationJob* job = vfs.hydrateFile(remote.fileId, target());
    ASSERT_NE(job, nullptr);
    job->setThrottle(std::chrono::milliseconds(0), 4 * 1024 * 1024);
    QSignalSpy failed(job, &HydrationJob::error);
    QTimer::singleShot(150, [&] {
        QFile grown(server);
        ASSERT_TRUE(grown.open(QIODevice::Append));
        grown.write("more");
    });
    runToEnd(job);
    ASSERT_EQ(failed.size(), 1);
    EXPECT_TRUE(failed.first().first().toString().contains(QStringLiteral("changed")));
    EXPECT_TRUE(log.contains(QtWarningMsg, QStringLiteral("Hydration failed")));

    EXPECT_EQ(QFileInfo(target()).size(), 0) << "the partial download is gone";
    EXPECT_EQ(modificationTime(target()), 1300000000);
    const PlaceholderRecord stored = record(remote.file);
    EXPECT_EQ(stored.state, States::Dehydrated);
    EXPECT_EQ(stored.size, quint64(content.size()));
    EXPECT_EQ(stored.etag, remote.etag.toStdString());
    EXPECT_EQ(stored.pinState, PinStates::Inherited);

    HydrationJob* retry = vfs.hydrateFile(remote.fileId, target());
    ASSERT_NE(retry, nullptr);
    runToEnd(retry);
    EXPECT_EQ(readFile(target()), readFile(server));
}

TEST_F(Hydration, OnlyTheFileTheJournalKnowsUnderTheIdIsHydrated)
{
    // Anyone may put a record naming the report's id on a file of their own.
    writeRecord(QStringLiteral("forged.txt"), States::Dehydrated, PinStates::Inherited);
    const QString forged = sync.filePath(QStringLiteral("forged.txt"));
    EXPECT_EQ(vfs.hydrateFile(remote.fileId, forged), nullptr);
    EXPECT_TRUE(log.contains(QtWarningMsg, QStringLiteral("Refusing hydration of")));
    EXPECT_EQ(readFile(forged), "");
    EXPECT_EQ(record(QStringLiteral("forged.txt")).state, States::Dehydrated);
    EXPECT_EQ(vfs.hydrateFile(remote.fileId, sync.filePath(QStringLiteral("../outside.txt"))),
              nullptr);
}

TEST_F(Hydration, FilesWithoutAUsableRecordAreNotHydrated)
{
    const QString plain = sync.filePath(QStringLiteral("plain.txt"));
    ASSERT_TRUE(writeFile(plain, "local"));
    ASSERT_TRUE(sync.journal().setFileRecord(SyncFileItem::fromSyncFileItem(
        item(QStringLiteral("plain.txt"), CSyncEnums::ItemTypeVirtualFile))));
    EXPECT_EQ(vfs.hydrateFile(QByteArray("id-plain.txt"), plain), nullptr);
    EXPECT_TRUE(log.contains(QtWarningMsg, QStringLiteral("Failed to get attributes for")));
    EXPECT_EQ(readFile(plain), "local");
    EXPECT_FALSE(record(QStringLiteral("plain.txt")).isOk()) << "no record is made for it";

    ASSERT_TRUE(setRawXattr(target(), "user.tessarn.data", "\x93\x01"));
    EXPECT_EQ(vfs.hydrateFile(remote.fileId, target()), nullptr);
    EXPECT_TRUE(log.contains(QtWarningMsg, QStringLiteral("Cannot decode the Tessarn xattr of")));
}

// The download goes into the file that was asked for, wherever it is moved meanwhile; the journal
// keeps its row where the client left it, until the client's next discovery.
TEST_F(Hydration, AFileMovedDuringTheDownloadEndsHydratedUnderItsNewName)
{
    HydrationJob* job = vfs.hydrateFile(remote.fileId, target());
    ASSERT_NE(job, nullptr);
    job->setThrottle(std::chrono::milliseconds(200), 0);
    const QString moved = sync.filePath(QStringLiteral("moved/report.txt"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(moved).path()));
    ASSERT_TRUE(QFile::rename(target(), moved));
    runToEnd(job);

    EXPECT_EQ(readFile(moved), content);
    EXPECT_EQ(record(QStringLiteral("moved/report.txt")).state, States::Hydrated);
    EXPECT_EQ(modificationTime(moved), 1300000000);
    const auto row = sync.journal().getFileRecordByFileId(remote.fileId);
    ASSERT_TRUE(row && row->has_value());
    EXPECT_EQ((*row)->type, CSyncEnums::ItemTypeFile);
    EXPECT_EQ((*row)->path, "report.txt");
}

TEST_F(Hydration, RunningJobsGoWithThePlugin)
{
    auto* plugin = new OfflineTessarn;
    plugin->start(sync.params());
    QPointer<HydrationJob> job = plugin->hydrateFile(remote.fileId, target());
    ASSERT_FALSE(job.isNull());
    // Part way through when the plug-in goes.
    ASSERT_TRUE(writeFile(sync.serverPath() + QStringLiteral("/report.txt"), QByteArray(64 * 1024, 'p')));
    job->setThrottle(std::chrono::milliseconds(0), 16 * 1024);
    job->start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return job && job->bytesWritten() > 0; }, 5000));

    delete plugin;
    EXPECT_TRUE(job.isNull()) << "a job the plug-in no longer tracks would never be deleted";
    EXPECT_EQ(QFileInfo(target()).size(), 0) << "what the download wrote is gone with it";
    EXPECT_EQ(record(remote.file).state, States::Dehydrated);
}
