#include "host/screens/TextWrap.h"

#include <algorithm>

#include "host/tty/TerminalPaint.h"
#include "platform/foundation/Unicode.h"

namespace host {

using platform::Range;

std::vector<Range> wrapLines(std::string_view text, int width) {
    width = std::max(width, 1);
    std::vector<Range> lines;
    const auto push = [&](std::size_t from, std::size_t to) { lines.push_back({from, to - from}); };
    std::size_t lineStart = 0;
    std::size_t spaceAt = std::string_view::npos;  // the last space on the line
    std::size_t afterSpace = 0;
    int column = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t at = i;
        const char32_t c = platform::nextScalar(text, i);
        if (platform::isLineBreak(c)) {
            push(lineStart, at);
            if (c == '\r' && i < text.size() && text[i] == '\n')
                ++i;
            lineStart = i;
            column = 0;
            spaceAt = std::string_view::npos;
            continue;
        }
        const int columns = cellWidth(c);
        if (column + columns > width && column > 0 && c == ' ') {
            // A space where the line is full ends it: the line keeps every word that fits.
            push(lineStart, at);
            lineStart = i;
            column = 0;
            spaceAt = std::string_view::npos;
            continue;
        }
        if (column + columns > width && column > 0) {
            if (spaceAt != std::string_view::npos) {
                push(lineStart, spaceAt);
                lineStart = afterSpace;
                column = columnsOf(text.substr(lineStart, at - lineStart));
            }
            if (column + columns > width && column > 0) {
                push(lineStart, at);
                lineStart = at;
                column = 0;
            }
            spaceAt = std::string_view::npos;
        }
        column += columns;
        if (c == ' ') {
            spaceAt = at;
            afterSpace = i;
        }
    }
    if (lineStart < text.size() || lines.empty())
        push(lineStart, text.size());
    return lines;
}

}  // namespace host
