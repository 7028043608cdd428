// Tells when a socket may have appeared at a path: an inotify watch on its folder, for names
// made or moved there, so that a client that starts listening is connected to at once.
#pragma once

#include <string>

namespace TessarnFuse {

class SocketWatch {
public:
    SocketWatch() = default;
    ~SocketWatch();
    SocketWatch(const SocketWatch&) = delete;
    SocketWatch& operator=(const SocketWatch&) = delete;

    void setSocket(const std::string& path);
    // Watches the folder while it exists: false while it does not.
    bool watch();
    void unwatch();
    // What poll watches for news, -1 while nothing is watched.
    int fd() const { return m_watch >= 0 ? m_inotify : -1; }
    // Reads the news: whether the socket's name was in it.
    bool socketNamed();

private:
    std::string m_folder;
    std::string m_name;
    int m_inotify = -1;
    int m_watch = -1;
};

} // namespace TessarnFuse
