// An application that opens one file: prints what it reads, or writes its text with truncation.
// Exits with 0, or with the errno of the failed open.
//
//   tessarn_open_probe PATH            read the file
//   tessarn_open_probe PATH TEXT       open for writing with truncation and write TEXT
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 255;
    const bool writing = argc > 2;
    const int fd = ::open(argv[1], writing ? O_WRONLY | O_TRUNC : O_RDONLY);
    if (fd < 0)
        return errno;
    if (writing) {
        const auto length = static_cast<ssize_t>(std::strlen(argv[2]));
        return ::write(fd, argv[2], static_cast<size_t>(length)) == length ? 0 : 254;
    }
    char buffer[4096];
    for (ssize_t count; (count = ::read(fd, buffer, sizeof(buffer))) > 0;) {
        if (::write(STDOUT_FILENO, buffer, static_cast<size_t>(count)) != count)
            return 254;
    }
    return 0;
}
