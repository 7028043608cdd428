// Small helpers of the end-to-end tests: contents, the journal, the socket API as a client.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <test_support.h>
#include <vdk/syncjournalfilerecord.h>

namespace TessarnTest {

using namespace std::chrono_literals;

// Bytes that differ from file to file and from place to place within a file.
std::string patternContent(std::size_t size, unsigned seed);

// Every entry below the folder, by relative path: a file by the SHA-256 of its bytes, a link
// by its target, links not followed.
std::map<std::string, std::string> treeDigest(const std::filesystem::path& root);

std::optional<VDK::SyncJournalFileRecord> journalRow(const std::filesystem::path& journal,
                                                     const std::string& relativePath);

// A connection to synchost's socket API, as the daemon makes it.
class ApiConnection : public LineConnection {
public:
    explicit ApiConnection(const std::filesystem::path& socketPath);
};

std::string hydrationRequest(int id, const std::string& file, const std::string& fileId);

} // namespace TessarnTest
