// Preloaded into the daemon: brings about what is hard to bring about for real. An object made
// (a file, a folder, a fifo, a symbolic link) under a name ending in "hand-over-race" is at once
// replaced by the file of the same name plus ".victim", as a rename by someone else right after
// the creation would do; and user and group look-ups want a buffer of 64 KiB, as an entry with
// many group members does.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <dlfcn.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t largeEntry = 64 * 1024;

template <typename Call>
Call next(const char* name)
{
    return reinterpret_cast<Call>(::dlsym(RTLD_NEXT, name));
}

// After a call that made name in the directory.
int replaced(int result, int directory, const char* name)
{
    if (result >= 0 && std::string_view(name).ends_with("hand-over-race"))
        ::renameat(directory, (std::string(name) + ".victim").c_str(), directory, name);
    return result;
}

} // namespace

extern "C" int openat(int directory, const char* name, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = (flags & O_CREAT) ? va_arg(arguments, mode_t) : 0;
    va_end(arguments);
    const int fd = next<int (*)(int, const char*, int, ...)>("openat")(directory, name, flags, mode);
    return (flags & O_CREAT) ? replaced(fd, directory, name) : fd;
}

extern "C" int mkdirat(int directory, const char* name, mode_t mode)
{
    return replaced(next<decltype(&mkdirat)>("mkdirat")(directory, name, mode), directory, name);
}

extern "C" int mkfifoat(int directory, const char* name, mode_t mode)
{
    return replaced(next<decltype(&mkfifoat)>("mkfifoat")(directory, name, mode), directory, name);
}

extern "C" int symlinkat(const char* target, int directory, const char* name)
{
    return replaced(next<decltype(&symlinkat)>("symlinkat")(target, directory, name), directory,
                    name);
}

extern "C" int open(const char* path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = (flags & O_CREAT) ? va_arg(arguments, mode_t) : 0;
    va_end(arguments);
    return openat(AT_FDCWD, path, flags, mode);
}

// The same calls on a 64-bit system; the daemon, built for large files, calls these names.
extern "C" int openat64(int directory, const char* name, int flags, ...)
    __attribute__((alias("openat")));
extern "C" int open64(const char* path, int flags, ...) __attribute__((alias("open")));

extern "C" int getpwuid_r(uid_t uid, passwd* entry, char* buffer, size_t size, passwd** result)
{
    *result = nullptr;
    if (size < largeEntry)
        return ERANGE;
    return next<decltype(&getpwuid_r)>("getpwuid_r")(uid, entry, buffer, size, result);
}

extern "C" int getgrgid_r(gid_t gid, group* entry, char* buffer, size_t size, group** result)
{
    *result = nullptr;
    if (size < largeEntry)
        return ERANGE;
    return next<decltype(&getgrgid_r)>("getgrgid_r")(gid, entry, buffer, size, result);
}
