// A download as the daemon sees it through the mount: the sync client writes a placeholder's
// content into it, and the bytes it wrote from the first one on without a gap have arrived.
// Readers that open the file meanwhile read those; each read waits for its own bytes.
#pragma once

#include <atomic>
#include <cstddef>
#include <fuse3/fuse_lowlevel.h>
#include <mutex>
#include <sys/types.h>

namespace TessarnFuse {

class Download {
public:
    enum class State {
        Arriving,  // in order from the first byte: what arrived may be read
        Unordered, // a gap, a write out of order or another's: nothing is read before the end
        Complete,  // the record says Hydrated: the file holds its content
        Failed,    // it ended without the content
    };

    // The inode the kernel knows the file by, and the size its record promises.
    Download(fuse_ino_t inode, off_t size) : m_inode(inode), m_size(size) {}

    fuse_ino_t inode() const { return m_inode; }
    // Where readers find the end of the file while it downloads.
    off_t size() const { return m_size; }
    off_t arrived() const { return m_arrived; }
    State state() const { return m_state; }
    bool ended() const;
    // The negated errno of a failed download, 0 otherwise.
    int error() const { return m_error; }

    // count bytes written at offset, by the client or by another: whether waiters need to know.
    bool wrote(off_t offset, std::size_t count, bool byClient);
    void complete();
    // Whether it ended with this, and not before.
    bool fail(int error);

    // Whether a read of the range can be answered now: its bytes before the record's size have
    // arrived, or the download ended.
    bool readable(off_t offset, std::size_t size) const;
    // How much of the range lies before the record's size.
    std::size_t within(off_t offset, std::size_t size) const;

    // While reads wait, every write that moves the download on is news.
    void readWaits() { ++m_waitingReads; }
    void readEnded() { --m_waitingReads; }

private:
    bool end(State state, int error);

    const fuse_ino_t m_inode;
    const off_t m_size;
    std::mutex m_mutex; // for the changes; readers take the atomics as they are
    std::atomic<off_t> m_arrived{0};
    std::atomic<State> m_state{State::Arriving};
    std::atomic<int> m_error{0};
    std::atomic<int> m_waitingReads{0};
};

} // namespace TessarnFuse
