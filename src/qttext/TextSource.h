// TextSource: the characters and styled runs a lazily laid-out text is drawn from.
//
// The drawing libraries of both desktop programs read text through this seam only, so neither
// knows the other's text types: the share window hands over the extension's attributed text,
// the prompter a script read from a file. A source never changes once handed over; a new text
// is a new source.
#pragma once

#include <QColor>
#include <QFont>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace qttext {

// A stretch of the text with one font and one colour. Either may be absent: the view then
// draws the stretch in its own default font or colour.
struct TextRun {
    std::uint64_t start = 0;  // bytes of the UTF-8 text
    std::uint64_t length = 0;
    std::optional<QFont> font;
    std::optional<QColor> colour;
    // For a run without a font of its own: the view's default font made bold, and scaled.
    bool bold = false;
    double scale = 1.0;
};

class TextSource {
  public:
    virtual ~TextSource() = default;

    // Length of the UTF-8 text in bytes.
    [[nodiscard]] virtual std::uint64_t length() const = 0;
    // Visits the text's bytes in order, in as many pieces as it is stored in.
    virtual void forEachPiece(const std::function<void(std::string_view)>& visit) const = 0;
    // The bytes [start, start + length); clipped to the text.
    [[nodiscard]] virtual std::string substring(std::uint64_t start,
                                                std::uint64_t length) const = 0;
    // Visits, in order, the runs that overlap [start, start + length), clipped to it. Together
    // they cover the range.
    virtual void forEachRun(std::uint64_t start, std::uint64_t length,
                            const std::function<void(const TextRun&)>& visit) const = 0;
    // Two sources with the same identity and length hold the same characters (so a view keeps
    // its paragraph index when only the styling changed).
    [[nodiscard]] virtual const void* characterIdentity() const = 0;
};

}  // namespace qttext
