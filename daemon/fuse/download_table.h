// The downloads the sync client writes through the mount, by file and by the handles that
// stream them. A download begins when the client marks an empty placeholder Hydrating and ends
// with the next record written or removed (Hydrated: complete; anything else: failed), or when
// the connection to the client is lost, the daemon stops, or it makes no progress for the stall
// limit. The socket worker is told whenever waiters may find what they wait for.
#pragma once

#include "fuse/download.h"
#include "fuse/kernel_cache.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unordered_map>
#include <utility>

namespace TessarnFuse {

class DownloadTable {
public:
    explicit DownloadTable(const KernelCache& cache) : m_cache(cache) {}

    // Whether any download runs: nothing else here is needed while none does.
    bool running() const { return m_running > 0; }
    // The record of the file open as fd was written or removed through the mount.
    void recordChanged(fuse_ino_t inode, int fd, bool byClient);
    // count bytes were written at offset into the file.
    void written(const struct stat& file, off_t offset, std::size_t count, bool byClient);
    // The download running into the file, if any.
    std::shared_ptr<Download> of(const struct stat& file) const;
    std::shared_ptr<Download> of(dev_t device, ino_t inode) const;
    using Key = std::pair<dev_t, ino_t>;

    // Ends the download of the file as failed, with the errno its waiting reads get.
    void fail(Key key, const std::shared_ptr<Download>& download, int error);

    // A handle opened while the file downloads, whose reads wait for their bytes.
    void stream(std::uint64_t handle, std::shared_ptr<Download> download);
    std::shared_ptr<Download> streamOf(std::uint64_t handle) const;
    void closed(std::uint64_t handle);

private:
    void begin(Key key, fuse_ino_t inode, off_t size);
    // The download of the file ended, as complete or failed.
    void end(Key key, bool complete, int error);
    // Takes the file's download out of the table: the one running, or only that one.
    std::shared_ptr<Download> remove(Key key, const Download* only = nullptr);

    const KernelCache& m_cache;
    mutable std::mutex m_mutex;
    std::map<Key, std::shared_ptr<Download>> m_files;
    std::unordered_map<std::uint64_t, std::shared_ptr<Download>> m_streams;
    std::atomic<std::size_t> m_running{0};
    std::atomic<std::size_t> m_streaming{0};
};

} // namespace TessarnFuse
