#include "fuse/download_table.h"

#include "client/sync_client_connection.h"
#include "fuse/placeholder_record.h"

#include <cerrno>
#include <optional>
#include <tessarn/tessarn.h>

namespace TessarnFuse {

namespace {

using Tessarn::Constants::States;

// Waits in the socket worker's table for as long as the download runs, so that what ends the
// client's requests ends the download too: a lost connection, the daemon's stop, the stall
// limit.
class DownloadWatch : public HydrationWaiter {
public:
    DownloadWatch(DownloadTable& table, DownloadTable::Key key, std::shared_ptr<Download> download)
        : m_table(table), m_key(key), m_download(std::move(download))
    {
    }

    void waiting(std::int32_t) override {}
    bool progressed() override
    {
        const auto arrived = m_download->arrived();
        return std::exchange(m_seen, arrived) != arrived;
    }
    bool callerGivesUp() override { return false; }
    bool ready() override { return m_download->ended(); }
    void finished(HydrationOutcome outcome) override
    {
        if (outcome.end != HydrationEnd::Ready)
            m_table.fail(m_key, m_download,
                         outcome.end == HydrationEnd::TimedOut ? -ETIMEDOUT : -EIO);
    }

private:
    DownloadTable& m_table;
    DownloadTable::Key m_key;
    std::shared_ptr<Download> m_download;
    off_t m_seen = 0; // the worker's own
};

// What a record says of the file's download; an undecodable one ends it.
std::optional<States> recordedState(int fd)
{
    try {
        if (const auto record = placeholderRecord(fd, {}))
            return record->state;
    } catch (const UndecodableRecord&) {
    }
    return std::nullopt;
}

} // namespace

void DownloadTable::recordChanged(fuse_ino_t inode, int fd, bool byClient)
{
    struct stat file {};
    if (::fstat(fd, &file) != 0)
        return;
    const Key key{file.st_dev, file.st_ino};
    const auto state = recordedState(fd);
    if (state != States::Hydrating)
        return end(key, state == States::Hydrated, -EIO);
    // The client writes the record again while its bytes come: the download goes on. On an
    // empty file it begins anew, as after a download that its client left.
    if (!byClient || file.st_size > 0)
        return;
    if (const auto size = placeholderSize(fd))
        begin(key, inode, *size);
}

void DownloadTable::begin(Key key, fuse_ino_t inode, off_t size)
{
    auto download = std::make_shared<Download>(inode, size);
    std::shared_ptr<Download> replaced;
    {
        const std::lock_guard lock(m_mutex);
        auto& running = m_files[key];
        replaced = std::exchange(running, download);
        if (!replaced)
            ++m_running;
    }
    if (replaced && replaced->fail(-EIO))
        socketThread().downloadsMoved();
    // Without a worker nothing could end it but its record.
    socketThread().await(std::make_shared<DownloadWatch>(*this, key, std::move(download)));
}

std::shared_ptr<Download> DownloadTable::remove(Key key, const Download* only)
{
    const std::lock_guard lock(m_mutex);
    const auto found = m_files.find(key);
    if (found == m_files.end() || (only && found->second.get() != only))
        return nullptr;
    auto download = std::move(found->second);
    m_files.erase(found);
    --m_running;
    return download;
}

void DownloadTable::end(Key key, bool complete, int error)
{
    if (!running())
        return;
    const auto download = remove(key);
    if (!download)
        return;
    if (complete)
        download->complete();
    else
        download->fail(error);
    socketThread().downloadsMoved();
}

void DownloadTable::fail(Key key, const std::shared_ptr<Download>& download, int error)
{
    if (!download->fail(error))
        return;
    remove(key, download.get());
    // The client's pages of it may hold a part of the content that is now no file's.
    m_cache.forgetInode(download->inode());
    socketThread().downloadsMoved();
}

void DownloadTable::written(const struct stat& file, off_t offset, std::size_t count, bool byClient)
{
    const auto download = of(file);
    if (download && download->wrote(offset, count, byClient))
        socketThread().downloadsMoved();
}

std::shared_ptr<Download> DownloadTable::of(const struct stat& file) const
{
    return of(file.st_dev, file.st_ino);
}

std::shared_ptr<Download> DownloadTable::of(dev_t device, ino_t inode) const
{
    if (!running())
        return nullptr;
    const std::lock_guard lock(m_mutex);
    const auto found = m_files.find({device, inode});
    return found == m_files.end() ? nullptr : found->second;
}

void DownloadTable::stream(std::uint64_t handle, std::shared_ptr<Download> download)
{
    const std::lock_guard lock(m_mutex);
    if (m_streams.insert_or_assign(handle, std::move(download)).second)
        ++m_streaming;
}

std::shared_ptr<Download> DownloadTable::streamOf(std::uint64_t handle) const
{
    if (m_streaming == 0)
        return nullptr;
    const std::lock_guard lock(m_mutex);
    const auto found = m_streams.find(handle);
    return found == m_streams.end() ? nullptr : found->second;
}

void DownloadTable::closed(std::uint64_t handle)
{
    if (m_streaming == 0)
        return;
    const std::lock_guard lock(m_mutex);
    if (m_streams.erase(handle) > 0)
        --m_streaming;
}

} // namespace TessarnFuse
