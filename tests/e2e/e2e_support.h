// Small helpers of the end-to-end tests: contents, the journal, the socket API as a client.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vdk/syncjournalfilerecord.h>

namespace TessarnTest {

using namespace std::chrono_literals;

// Bytes that differ from file to file and from place to place within a file.
std::string patternContent(std::size_t size, unsigned seed);

std::size_t occurrences(const std::string& text, std::string_view word);

std::optional<VDK::SyncJournalFileRecord> journalRow(const std::filesystem::path& journal,
                                                     const std::string& relativePath);

// A connection to synchost's socket API, as the daemon makes it.
class ApiConnection {
public:
    explicit ApiConnection(const std::filesystem::path& socketPath);
    ~ApiConnection();
    ApiConnection(const ApiConnection&) = delete;
    ApiConnection& operator=(const ApiConnection&) = delete;

    bool connected() const { return m_fd >= 0; }
    void send(std::string_view bytes);
    // One line without its line feed, or nothing when none comes in time.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout = 10s);

private:
    int m_fd = -1;
    std::string m_pending;
};

std::string hydrationRequest(int id, const std::string& file, const std::string& fileId);

} // namespace TessarnTest
