#include "e2e_support.h"

#include <QCryptographicHash>
#include <nlohmann/json.hpp>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vdk/syncjournaldb.h>

namespace fs = std::filesystem;

namespace TessarnTest {

std::string patternContent(std::size_t size, unsigned seed)
{
    std::string content(size, '\0');
    std::uint32_t state = seed * 2654435761u + 1;
    for (auto& byte : content) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    return content;
}

std::map<std::string, std::string> treeDigest(const fs::path& root)
{
    std::map<std::string, std::string> digest;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
        std::string& value = digest[entry.path().lexically_relative(root).string()];
        if (entry.is_symlink())
            value = "link to " + fs::read_symlink(entry.path()).string();
        else if (entry.is_directory())
            value = "folder";
        else
            value = QCryptographicHash::hash(QByteArray::fromStdString(readFile(entry.path())),
                                             QCryptographicHash::Sha256)
                        .toHex()
                        .toStdString();
    }
    return digest;
}

std::optional<VDK::SyncJournalFileRecord> journalRow(const fs::path& journal,
                                                     const std::string& relativePath)
{
    VDK::SyncJournalDb db(QString::fromStdString(journal.string()));
    const auto row = db.getFileRecord(QByteArray::fromStdString(relativePath));
    if (!row || !row->has_value())
        return std::nullopt;
    return **row;
}

ApiConnection::ApiConnection(const fs::path& socketPath)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socketPath.native().copy(address.sun_path, sizeof(address.sun_path) - 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) < 0)
        ::close(fd);
    else
        reset(fd);
}

std::string hydrationRequest(int id, const std::string& file, const std::string& fileId)
{
    const nlohmann::json payload{
        {"arguments", {{"file", file}, {"fileId", fileId}, {"requester", "/usr/bin/test"}}},
        {"id", std::to_string(id)}};
    return "V2/HYDRATE_FILE:" + payload.dump() + "\n";
}

} // namespace TessarnTest
