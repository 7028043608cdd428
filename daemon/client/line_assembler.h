// The socket API is a stream of lines; reads end wherever the kernel cut the stream, so a line
// may come in pieces and several lines in one read.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace TessarnFuse {

class LineAssembler {
public:
    // A longer line is dropped up to its line feed: no answer is that long, and what waits for
    // the rest of a line must not grow without end. synchost's reader keeps the same rule.
    static constexpr std::size_t maxLineLength = 64 * 1024;

    struct Lines {
        std::vector<std::string> complete; // without their line feeds; empty lines left out
        std::size_t droppedBytes = 0;
    };

    Lines feed(std::string_view bytes);
    void clear();

private:
    void append(std::string_view piece, Lines& lines);

    std::string m_pending;
    bool m_discarding = false; // inside an overlong line, until its line feed
};

} // namespace TessarnFuse
