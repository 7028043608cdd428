#include "stub_vfs.h"

#include <vdk/hydrationjob.h>
#include <vdk/syncjournaldb.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QElapsedTimer>
#include <cerrno>
#include <gtest/gtest.h>

using namespace VDK;

namespace {

// A folder standing for the server, a journal, and a Vfs whose parameters name both.
class HydrationJobTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.isValid());
        ASSERT_TRUE(QDir(server.path()).mkpath(QStringLiteral("Docs")));
        VfsSetupParams params;
        params.filesystemPath = server.filePath(QStringLiteral("unused-local-folder"));
        params.account = AccountPtr::create(QUuid::createUuid(), QUrl::fromLocalFile(server.path()));
        params.journal = &journal;
        vfs.start(params);
    }

    void putOnServer(const QByteArray& path, const QByteArray& content, const QByteArray& fileId)
    {
        QFile file(server.filePath(QString::fromUtf8(path)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        ASSERT_TRUE(journal.setFileRecord({path, 1, 1700000000, CSyncEnums::ItemTypeVirtualFile,
                                           "etag", fileId, content.size()}));
    }

    // Runs the job to its end; the outcome is the error text, empty on success.
    QString run(HydrationJob& job)
    {
        QSignalSpy finished(&job, &HydrationJob::finished);
        QSignalSpy failed(&job, &HydrationJob::error);
        job.start();
        EXPECT_TRUE(finished.isEmpty() && failed.isEmpty()) << "the outcome must come later";
        EXPECT_TRUE(QTest::qWaitFor([&] { return !finished.isEmpty() || !failed.isEmpty(); }, 5000));
        EXPECT_EQ(finished.size() + failed.size(), 1);
        return failed.isEmpty() ? QString() : failed.first().first().toString();
    }

    QTemporaryDir server;
    QTemporaryDir scratch;
    SyncJournalDb journal{scratch.filePath(QStringLiteral("journal.db"))};
    StubVfs vfs;
};

} // namespace

TEST_F(HydrationJobTest, CopiesTheServerFileFoundThroughTheJournalIntoTheDevice)
{
    QByteArray content(2 * 1024 * 1024 + 5, 'x');
    content[0] = '\0';
    content[1024 * 1024] = 'y';
    putOnServer("Docs/big file.bin", content, "id-1");
    auto* buffer = new QBuffer;
    HydrationJob job(&vfs, "id-1", std::unique_ptr<QIODevice>(buffer), nullptr);
    job.setTargetFile(QStringLiteral("/somewhere"));

    EXPECT_EQ(run(job), QString());
    EXPECT_EQ(buffer->data(), content);
    EXPECT_FALSE(buffer->isOpen()) << "the device is closed before finished()";
    EXPECT_EQ(job.record().path, "Docs/big file.bin");
    EXPECT_EQ(job.record().fileId, "id-1");
    EXPECT_EQ(job.targetFileName(), QStringLiteral("/somewhere"));
}

// The event loop runs between the pieces of a throttled download: the client answers other
// requests meanwhile.
TEST_F(HydrationJobTest, AThrottledDownloadTakesItsTimeWithoutHoldingTheEventLoop)
{
    const QByteArray content(300 * 1024, 'z');
    putOnServer("slow.bin", content, "id-5");
    auto* buffer = new QBuffer;
    HydrationJob job(&vfs, "id-5", std::unique_ptr<QIODevice>(buffer), nullptr);
    job.setThrottle(std::chrono::milliseconds(100), 1024 * 1024);
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);
    QElapsedTimer clock;
    clock.start();

    EXPECT_EQ(run(job), QString());
    EXPECT_GE(clock.elapsed(), 100 + 250) << "100 ms of latency, then 300 KiB at 1 MiB/s";
    EXPECT_GE(ticks, 5);
    EXPECT_EQ(buffer->data(), content);
}

TEST_F(HydrationJobTest, ReplacesTheContentOfATargetFile)
{
    putOnServer("a.txt", "remote", "id-2");
    const QString target = scratch.filePath(QStringLiteral("a.txt"));
    QFile placeholder(target);
    ASSERT_TRUE(placeholder.open(QIODevice::WriteOnly));
    placeholder.write("much longer local bytes");
    placeholder.close();

    HydrationJob job(&vfs, "id-2", std::make_unique<QFile>(target), nullptr);
    EXPECT_EQ(run(job), QString());
    ASSERT_TRUE(placeholder.open(QIODevice::ReadOnly));
    EXPECT_EQ(placeholder.readAll(), "remote");
}

TEST_F(HydrationJobTest, ReportsWhatKeepsItFromDownloading)
{
    HydrationJob unknown(&vfs, "no-such-id", std::make_unique<QBuffer>(), nullptr);
    EXPECT_TRUE(run(unknown).contains(QStringLiteral("no-such-id")));

    putOnServer("gone.txt", "x", "id-3");
    ASSERT_TRUE(QFile::remove(server.filePath(QStringLiteral("gone.txt"))));
    HydrationJob missingSource(&vfs, "id-3", std::make_unique<QBuffer>(), nullptr);
    EXPECT_FALSE(run(missingSource).isEmpty());
    EXPECT_EQ(missingSource.systemError(), ENOENT);

    putOnServer("b.txt", "x", "id-4");
    HydrationJob unwritable(&vfs, "id-4",
                            std::make_unique<QFile>(scratch.filePath(QStringLiteral("no/dir/b"))),
                            nullptr);
    EXPECT_FALSE(run(unwritable).isEmpty());

    putOnServer("c.txt", "x", "id-6");
    const QString deleted = scratch.filePath(QStringLiteral("c.txt"));
    HydrationJob deletedTarget(&vfs, "id-6", std::make_unique<QFile>(deleted), nullptr);
    EXPECT_FALSE(run(deletedTarget).isEmpty());
    EXPECT_FALSE(QFile::exists(deleted)) << "a file deleted locally stays deleted";

    HydrationJob fullDisk(&vfs, "id-4", std::make_unique<QFile>(QStringLiteral("/dev/full")),
                          nullptr);
    EXPECT_EQ(run(fullDisk), QStringLiteral("No space left on device"));
    EXPECT_EQ(fullDisk.systemError(), ENOSPC);
    EXPECT_EQ(unknown.systemError(), 0) << "no system error behind an unknown id";
}

// Whether it still waits for its first byte or is part way through, a cancelled job ends soon,
// as cancelled.
TEST_F(HydrationJobTest, ACancelledJobEndsAsCancelled)
{
    putOnServer("long.bin", QByteArray(1024 * 1024, 'l'), "id-8");
    for (const auto latency : {std::chrono::milliseconds(5000), std::chrono::milliseconds(0)}) {
        HydrationJob job(&vfs, "id-8", std::make_unique<QBuffer>(), nullptr);
        job.setThrottle(latency, 64 * 1024);
        QTimer::singleShot(100, [&] { job.cancel(); });
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(run(job), QStringLiteral("The download was cancelled"));
        EXPECT_LT(clock.elapsed(), 1000) << "latency " << latency.count() << " ms";
        EXPECT_EQ(job.status(), HydrationJob::Status::Cancelled);
        EXPECT_EQ(job.systemError(), ECANCELED);
    }
}

// The server's file loses its end while it is copied: the job must not call that complete.
TEST_F(HydrationJobTest, AServerFileCutShortDuringTheDownloadFailsIt)
{
    putOnServer("cut.bin", QByteArray(400 * 1024, 'c'), "id-7");
    auto* buffer = new QBuffer;
    HydrationJob job(&vfs, "id-7", std::unique_ptr<QIODevice>(buffer), nullptr);
    job.setThrottle(std::chrono::milliseconds(0), 1024 * 1024);
    QTimer::singleShot(100, [&] {
        QFile::resize(server.filePath(QStringLiteral("cut.bin")), 150 * 1024);
    });
    const QString failure = run(job);
    EXPECT_TRUE(failure.contains(QStringLiteral("ended after 153600 of 409600 bytes"))) << failure.toStdString();
    EXPECT_LT(job.bytesWritten(), 400 * 1024);
}
