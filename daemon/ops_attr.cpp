// Attributes, permissions, times and file-system statistics.
#include "errno_result.h"
#include "operation_log.h"
#include "operations.h"
#include "paths.h"

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <nlohmann/json.hpp>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <tessarn.h>
#include <unistd.h>
#include <vector>

namespace TessarnFuse::Operations {

namespace {

// The size the record promises for a placeholder whose content is not downloaded yet. An
// undecodable record is no reason to stop serving the file: the plain size stands.
std::optional<unsigned long> placeholderSize(const std::string& path)
{
    try {
        const auto record = Tessarn::PlaceHolderAttributes::fromAttributes(path);
        if (record)
            return record->size;
    } catch (const nlohmann::json::exception&) {
    }
    return std::nullopt;
}

// getpwuid and getgrgid share static buffers between threads; the _r forms do not. A group with
// many members needs a large buffer.
template <typename Entry, typename Id>
std::optional<std::string> nameOf(int (*lookup)(Id, Entry*, char*, size_t, Entry**), Id id,
                                  char* Entry::*name)
{
    constexpr std::size_t largestBuffer = 1024 * 1024;
    for (std::size_t size = 16 * 1024; size <= largestBuffer; size *= 2) {
        Entry entry{};
        Entry* found = nullptr;
        std::vector<char> storage(size);
        const int error = lookup(id, &entry, storage.data(), storage.size(), &found);
        if (error == ERANGE)
            continue;
        if (error != 0 || !found)
            return std::nullopt;
        return std::string(entry.*name);
    }
    return std::nullopt;
}

void logChown(const std::string& path, uid_t uid, gid_t gid, int result)
{
    const auto user = nameOf(&::getpwuid_r, uid, &passwd::pw_name);
    const auto group = nameOf(&::getgrgid_r, gid, &group::gr_name);
    const int id[] = {static_cast<int>(uid), static_cast<int>(gid)};
    if (user && group)
        logOperation(path, "chown", result, "chown to %d:%d %s:%s", id[0], id[1], user->c_str(),
                     group->c_str());
    else
        logOperation(path, "chown", result, "chown to %d:%d", id[0], id[1]);
}

} // namespace

int getattr(const char* fusePath, struct stat* st, fuse_file_info*)
{
    const auto path = rootRelativePath(fusePath);
    const int result = resultOf(::lstat(path.c_str(), st));
    logOperation(path, "getattr", loggedValue(result), "getattr inode: %ld",
                 static_cast<long>(st->st_ino));
    if (result < 0)
        return result;
    if (!S_ISDIR(st->st_mode) && st->st_size == 0) {
        if (const auto size = placeholderSize(path))
            st->st_size = static_cast<off_t>(*size);
    }
    return 0;
}

int readlink(const char* fusePath, char* buffer, size_t size)
{
    const auto path = rootRelativePath(fusePath);
    const int result = resultOf(::readlink(path.c_str(), buffer, size - 1));
    if (result >= 0)
        buffer[result] = '\0';
    logOperation(path, "readlink", loggedValue(result), "readlink");
    return result < 0 ? result : 0;
}

int chmod(const char* fusePath, mode_t mode, fuse_file_info*)
{
    const auto path = rootRelativePath(fusePath);
    const int result = resultOf(::chmod(path.c_str(), mode));
    logOperation(path, "chmod", loggedValue(result), "chmod to %o", mode);
    return result;
}

int chown(const char* fusePath, uid_t uid, gid_t gid, fuse_file_info*)
{
    const auto path = rootRelativePath(fusePath);
    const int result = resultOf(::lchown(path.c_str(), uid, gid));
    if (operationLogEnabled())
        logChown(path, uid, gid, result);
    return result;
}

int truncate(const char* fusePath, off_t size, fuse_file_info*)
{
    const auto path = rootRelativePath(fusePath);
    const int result = resultOf(::truncate(path.c_str(), size));
    logOperation(path, "truncate", loggedValue(result), "truncate to %d bytes",
                 static_cast<int>(size));
    return result;
}

int utimens(const char* fusePath, const struct timespec times[2], fuse_file_info*)
{
    const auto path = rootRelativePath(fusePath);
    const int result =
        resultOf(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW));
    logOperation(path, "utimens", loggedValue(result), "%s", "");
    return result;
}

int access(const char* fusePath, int mask)
{
    const auto path = rootRelativePath(fusePath);
    const int result = resultOf(::access(path.c_str(), mask));
    logOperation(path, "access", loggedValue(result), "%s", "");
    return result;
}

int statfs(const char* fusePath, struct statvfs* buffer)
{
    const auto path = rootRelativePath(fusePath);
    const int result = resultOf(::statvfs(path.c_str(), buffer));
    logOperation(path, "statfs", loggedValue(result), "%s", "");
    return result;
}

} // namespace TessarnFuse::Operations
