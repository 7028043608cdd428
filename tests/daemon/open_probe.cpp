// An application that opens one file: prints what it reads, or writes its text with truncation.
// Exits with 0, or with the errno of the failed open or read.
//
//   tessarn_open_probe PATH            read the file
//   tessarn_open_probe --opened PATH   read the file, saying "opened" on standard error once the
//                                      open has returned
//   tessarn_open_probe PATH TEXT       open for writing with truncation and write TEXT
//   tessarn_open_probe --alarms PATH   read the file while a timer raises SIGALRM every 100 ms,
//                                      handled with SA_RESTART; says on standard error how
//                                      often it came
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

std::atomic<int> alarms{0};

void countAlarm(int)
{
    ++alarms;
}

void startAlarms()
{
    struct sigaction action {};
    action.sa_handler = countAlarm;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGALRM, &action, nullptr);
    const itimerval every100ms{{0, 100000}, {0, 100000}};
    ::setitimer(ITIMER_REAL, &every100ms, nullptr);
}

int copyToOutput(int fd)
{
    char buffer[4096];
    for (;;) {
        const auto count = ::read(fd, buffer, sizeof(buffer));
        if (count <= 0)
            return count < 0 ? errno : 0;
        if (::write(STDOUT_FILENO, buffer, static_cast<size_t>(count)) != count)
            return 254;
    }
}

} // namespace

int main(int argc, char** argv)
{
    const bool withAlarms = argc > 1 && std::strcmp(argv[1], "--alarms") == 0;
    const bool sayOpened = argc > 1 && std::strcmp(argv[1], "--opened") == 0;
    if (withAlarms)
        startAlarms();
    if (withAlarms || sayOpened) {
        --argc;
        ++argv;
    }
    if (argc < 2)
        return 255;
    const bool writing = argc > 2;
    const int fd = ::open(argv[1], writing ? O_WRONLY | O_TRUNC : O_RDONLY);
    if (withAlarms)
        std::fprintf(stderr, "alarms during the open: %d\n", alarms.load());
    if (fd < 0)
        return errno;
    if (sayOpened)
        std::fputs("opened\n", stderr);
    if (writing) {
        const auto length = static_cast<ssize_t>(std::strlen(argv[2]));
        return ::write(fd, argv[2], static_cast<size_t>(length)) == length ? 0 : 254;
    }
    return copyToOutput(fd);
}
