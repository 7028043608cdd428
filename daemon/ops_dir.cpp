// Directory listing, and removing and renaming names.
#include "errno_result.h"
#include "operation_log.h"
#include "operations.h"
#include "paths.h"

#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace TessarnFuse::Operations {

namespace {
struct DirectoryCloser {
    void operator()(DIR* directory) const { ::closedir(directory); }
};
} // namespace

int readdir(const char* fusePath, void* buffer, fuse_fill_dir_t filler, off_t, fuse_file_info*,
            fuse_readdir_flags)
{
    const auto path = rootRelativePath(fusePath);
    const std::unique_ptr<DIR, DirectoryCloser> directory(::opendir(path.c_str()));
    if (!directory) {
        const int error = -errno;
        logOperation(path, "readdir", -1, "%s", "");
        return error;
    }
    // Offset 0 for every entry: FUSE takes the whole listing in one pass.
    struct stat st {};
    while (const auto* entry = ::readdir(directory.get())) {
        st.st_ino = entry->d_ino;
        st.st_mode = static_cast<mode_t>(entry->d_type) << 12;
        if (filler(buffer, entry->d_name, &st, 0, fuse_fill_dir_flags{}) != 0)
            break;
    }
    logOperation(path, "readdir", 0, "%s", "");
    return 0;
}

int unlink(const char* fusePath)
{
    const auto path = rootRelativePath(fusePath);
    const int result = resultOf(::unlink(path.c_str()));
    logOperation(path, "unlink", loggedValue(result), "%s", "");
    return result;
}

int rmdir(const char* fusePath)
{
    const auto path = rootRelativePath(fusePath);
    const int result = resultOf(::rmdir(path.c_str()));
    logOperation(path, "rmdir", loggedValue(result), "%s", "");
    return result;
}

// The flags are honoured: RENAME_NOREPLACE must never overwrite, RENAME_EXCHANGE must swap.
int rename(const char* fusePathFrom, const char* fusePathTo, unsigned int flags)
{
    const auto from = rootRelativePath(fusePathFrom);
    const auto to = rootRelativePath(fusePathTo);
    const int result =
        resultOf(::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), flags));
    logOperation(from, "rename", loggedValue(result), "rename %s to %s", from.c_str(),
                 to.c_str());
    return result;
}

} // namespace TessarnFuse::Operations
