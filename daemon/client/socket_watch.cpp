#include "client/socket_watch.h"

#include <climits>
#include <cstring>
#include <filesystem>
#include <sys/inotify.h>
#include <unistd.h>

namespace TessarnFuse {

void SocketWatch::setSocket(const std::string& socketPath)
{
    const std::filesystem::path path(socketPath);
    m_folder = path.parent_path().empty() ? "." : path.parent_path().string();
    m_name = path.filename().string();
}

SocketWatch::~SocketWatch()
{
    if (m_inotify >= 0)
        ::close(m_inotify);
}

bool SocketWatch::watch()
{
    if (m_inotify < 0)
        m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_watch < 0 && m_inotify >= 0)
        m_watch = ::inotify_add_watch(m_inotify, m_folder.c_str(),
                                      IN_CREATE | IN_MOVED_TO | IN_ATTRIB | IN_ONLYDIR);
    return m_watch >= 0;
}

void SocketWatch::unwatch()
{
    if (m_watch >= 0)
        ::inotify_rm_watch(m_inotify, m_watch);
    m_watch = -1;
}

bool SocketWatch::socketNamed()
{
    alignas(inotify_event) char buffer[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
    bool named = false;
    for (ssize_t count; (count = ::read(m_inotify, buffer, sizeof(buffer))) > 0;) {
        for (const char* at = buffer; at < buffer + count;) {
            inotify_event event;
            std::memcpy(&event, at, sizeof(event));
            named = named || (event.len > 0 && m_name == at + sizeof(event));
            // A folder that went has taken its watch along; a new one is watched anew.
            if ((event.mask & IN_IGNORED) && event.wd == m_watch)
                m_watch = -1;
            at += sizeof(event) + event.len;
        }
    }
    return named;
}

} // namespace TessarnFuse
