#include "handover/TextTitle.h"

#include "handover/TextCharacters.h"

namespace handover {
namespace {

// ASCII without a call: a title is mostly that.
inline Utf8Scalar scalarAt(std::string_view text, std::size_t pos) {
    const auto byte = static_cast<unsigned char>(text[pos]);
    return byte < 0x80 ? Utf8Scalar{byte, 1} : decodeUtf8(text, pos);
}

}  // namespace

TitleBounds titleBounds(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        const Utf8Scalar scalar = scalarAt(text, pos);
        if (!isWhitespaceOrNewline(scalar.value))
            break;
        pos += scalar.size;
    }
    TitleBounds bounds{pos, pos, pos};
    while (pos < text.size()) {
        const Utf8Scalar scalar = scalarAt(text, pos);
        if (isLineBreak(scalar.value))
            break;
        pos += scalar.size;
        if (!isWhitespaceOrNewline(scalar.value))
            bounds.end = pos;
    }
    bounds.lineEnd = bounds.end;
    if (pos == text.size())
        return bounds;
    // A line break: the line keeps it (and the LF of a CR LF) only when more than white space
    // follows, as a text trimmed at both ends would have it.
    std::size_t through = pos + scalarAt(text, pos).size;
    if (text[pos] == '\r' && through < text.size() && text[through] == '\n')
        ++through;
    for (std::size_t after = through; after < text.size();) {
        const Utf8Scalar scalar = scalarAt(text, after);
        if (!isWhitespaceOrNewline(scalar.value)) {
            bounds.lineEnd = through;
            break;
        }
        after += scalar.size;
    }
    return bounds;
}

std::string titleOf(std::string_view head) {
    const TitleBounds bounds = titleBounds(head);
    return std::string(head.substr(bounds.start, bounds.end - bounds.start));
}

}  // namespace handover
