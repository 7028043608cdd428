// Helpers shared by the daemon's tests: temporary folders, bounded waits, mounts, placeholder
// records, and a stand-in for the sync client's socket API server.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Tessarn {
class PlaceHolderAttributes;
}

namespace TessarnTest {

using namespace std::chrono_literals;

// A fresh folder under the system's temporary directory, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// Polls until the condition holds or the time is up; returns the condition's last value.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5s);

// A file system of this type (of any, for an empty one) is mounted at exactly that path,
// blanks and all.
bool isMounted(const std::filesystem::path& mountPoint, std::string_view type = "fuse.tessarn");
// Unmounts a FUSE mount, lazily when the plain unmount fails; whether the plain one worked.
bool unmountFolder(const std::filesystem::path& mountPoint);

std::string readFile(const std::filesystem::path& file);
std::size_t occurrences(const std::string& text, std::string_view word);
void writeFile(const std::filesystem::path& file, std::string_view content = {});

// The library reads placeholder records but leaves writing them to the sync client; the tests
// play that part. Both throw when the attribute cannot be set.
void writeRecord(const std::filesystem::path& file, const Tessarn::PlaceHolderAttributes& record);
void writeRecordBytes(const std::filesystem::path& file, const std::vector<unsigned char>& bytes);

// Lines over a connected socket, as the socket API exchanges them: whole lines read within a
// time limit, whole sends.
class LineConnection {
public:
    LineConnection() = default;
    ~LineConnection();
    LineConnection(const LineConnection&) = delete;
    LineConnection& operator=(const LineConnection&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    // Takes the descriptor over, closing the one it had.
    void reset(int fd = -1);
    // One line without its "\n", or nothing when none arrives in time or the peer closed.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout = 5s);
    void send(std::string_view bytes);
    // Reads nothing more: the peer's writes fail, while this end can still write.
    void stopReading();

private:
    int m_fd = -1;
    std::string m_pending;
};

// The sync client's end of the socket API: listens on a Unix socket, takes one connection,
// reads request lines and writes whatever answer bytes a test wants. Its socket goes with it,
// so that another client can listen there.
class FakeSyncClient {
public:
    explicit FakeSyncClient(const std::filesystem::path& socketPath);
    ~FakeSyncClient();
    FakeSyncClient(const FakeSyncClient&) = delete;
    FakeSyncClient& operator=(const FakeSyncClient&) = delete;

    bool accept(std::chrono::milliseconds timeout = 5s);
    // One line without its "\n", or nothing when none arrives in time.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout = 5s)
    {
        return m_connection.readLine(timeout);
    }
    void send(std::string_view bytes) { m_connection.send(bytes); }
    // Answers VERSION the way the sync client does, with this process as the client.
    void answerVersion();
    void closeConnection() { m_connection.reset(); }
    void stopReading() { m_connection.stopReading(); }

private:
    std::filesystem::path m_socketPath;
    int m_listener = -1;
    LineConnection m_connection;
};

// The first line the daemon sends on each new connection.
inline const std::string versionRequest =
    R"(VERSION:{"arguments":{"file":"","fileId":"","requester":""},"id":"0"})";

std::string resultAnswer(int id, std::string_view arguments);

} // namespace TessarnTest
