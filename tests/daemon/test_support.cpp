#include "test_support.h"

#include "process.h"

#include <cstdlib>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/xattr.h>
#include <tessarn/tessarn.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace TessarnTest {

TempDir::TempDir()
{
    std::string pattern = (fs::temp_directory_path() / "tessarn-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return condition();
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

namespace {

// The kernel writes blanks, tabs, line feeds and backslashes of mount points as octal escapes.
std::string decodeMountPoint(std::string_view field)
{
    std::string decoded;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            decoded += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                         (field[i + 3] - '0'));
            i += 3;
        } else {
            decoded += field[i];
        }
    }
    return decoded;
}

bool waitReadable(int fd, std::chrono::milliseconds timeout)
{
    pollfd wanted{fd, POLLIN, 0};
    return ::poll(&wanted, 1, static_cast<int>(timeout.count())) > 0;
}

} // namespace

bool isMounted(const fs::path& mountPoint, std::string_view type)
{
    std::ifstream mountInfo("/proc/self/mountinfo");
    for (std::string line; std::getline(mountInfo, line);) {
        std::istringstream fields(line);
        std::string id, parent, device, root, point;
        fields >> id >> parent >> device >> root >> point;
        const auto separator = line.find(" - ");
        if (decodeMountPoint(point) == mountPoint.string() && separator != std::string::npos &&
            (type.empty() ||
             line.compare(separator + 3, type.size() + 1, std::string(type) + " ") == 0))
            return true;
    }
    return false;
}

bool unmountFolder(const fs::path& mountPoint)
{
    if (runProgram({"fusermount3", "-u", mountPoint.string()}).status == 0)
        return true;
    runProgram({"fusermount3", "-uz", mountPoint.string()});
    return false;
}

std::string readFile(const fs::path& file)
{
    std::ifstream stream(file, std::ios::binary);
    std::ostringstream content;
    content << stream.rdbuf();
    return content.str();
}

std::size_t occurrences(const std::string& text, std::string_view word)
{
    std::size_t count = 0;
    for (auto at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        ++count;
    return count;
}

void writeFile(const fs::path& file, std::string_view content)
{
    std::ofstream stream(file, std::ios::binary | std::ios::trunc);
    stream << content;
}

void writeRecord(const fs::path& file, const Tessarn::PlaceHolderAttributes& record)
{
    writeRecordBytes(file, record.toData());
}

void writeRecordBytes(const fs::path& file, const std::vector<unsigned char>& bytes)
{
    const std::string name(Tessarn::Constants::placeholderAttribute);
    if (::lsetxattr(file.c_str(), name.c_str(), bytes.data(), bytes.size(), 0) != 0)
        throw std::runtime_error("cannot write the record of " + file.string());
}

LineConnection::~LineConnection()
{
    reset();
}

void LineConnection::reset(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
    m_pending.clear();
}

std::optional<std::string> LineConnection::readLine(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto end = m_pending.find('\n');
        if (end != std::string::npos) {
            auto line = m_pending.substr(0, end);
            m_pending.erase(0, end + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (m_fd < 0 || left.count() <= 0 || !waitReadable(m_fd, left))
            return std::nullopt;
        char buffer[4096];
        const auto count = ::read(m_fd, buffer, sizeof(buffer));
        if (count <= 0)
            return std::nullopt;
        m_pending.append(buffer, static_cast<std::size_t>(count));
    }
}

void LineConnection::send(std::string_view bytes)
{
    if (::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(bytes.size()))
        throw std::runtime_error("short send on the socket");
}

void LineConnection::stopReading()
{
    ::shutdown(m_fd, SHUT_RD);
}

FakeSyncClient::FakeSyncClient(const fs::path& socketPath) : m_socketPath(socketPath)
{
    m_listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socketPath.native().copy(address.sun_path, sizeof(address.sun_path) - 1);
    if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) < 0 ||
        ::listen(m_listener, 4) < 0)
        throw std::runtime_error("cannot listen on " + socketPath.string());
}

FakeSyncClient::~FakeSyncClient()
{
    ::close(m_listener);
    ::unlink(m_socketPath.c_str());
}

bool FakeSyncClient::accept(std::chrono::milliseconds timeout)
{
    if (!waitReadable(m_listener, timeout))
        return false;
    m_connection.reset(::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC));
    return m_connection.isOpen();
}

void FakeSyncClient::answerVersion()
{
    send("VERSION:1.0:Halvorine:" + std::to_string(::getpid()) + "\n");
}

std::string resultAnswer(int id, std::string_view arguments)
{
    return "V2/HYDRATE_FILE_RESULT:{\"id\":\"" + std::to_string(id) +
           "\",\"arguments\":" + std::string(arguments) + "}\n";
}

} // namespace TessarnTest
