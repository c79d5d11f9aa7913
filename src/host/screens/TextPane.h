// TextPane: a text view's content as screen rows, scrolled by keys.
//
// The text is wrapped to the pane's width less the text container's side insets
// (kPointsPerColumn points to a column, so the 20-point insets are two columns), and only the
// lines on screen are wrapped (see WrappedText): a text of any size shows at once, and its end
// is as near as its start. Bold fonts are drawn bold; text set larger than the smallest text in
// the view (a title line at the large-title size) is underlined, since a terminal has one size
// of letter; foreground colours as the terminal's colour depth allows, over the palette's
// background. Text without a colour of its own is drawn in the palette's text colour, so it
// reads on the sheet's background whatever the terminal's own colours are: the text keeps no
// colour, only the drawing chooses.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/screens/TextWrap.h"
#include "host/session/Colour.h"
#include "host/tty/TerminalPaint.h"
#include "platform/foundation/AttributedText.h"
#include "platform/foundation/Geometry.h"

namespace host {

class TextPane {
  public:
    // `rows` rows, each `columns` wide, of `text` from the place scrolled to. The first line
    // shown stays first when the text or the width changes; the last screen is full.
    [[nodiscard]] std::vector<std::string> draw(const platform::AttributedText& text,
                                                platform::EdgeInsets inset, int columns, int rows,
                                                const Palette& palette, ColourDepth depth);

    // Where the last draw stands in the text, as a pager says it: empty when the whole text
    // was on screen, else "Top", "Bot", or the share of the text's bytes up to the last line
    // shown ("42%").
    [[nodiscard]] std::string position() const;

    // Moves take effect at the next draw.
    void scrollBy(std::int64_t lines) { scroll_ += lines; }
    void toStart() { jump_ = Jump::start, scroll_ = 0; }
    void toEnd() { jump_ = Jump::end, scroll_ = 0; }

  private:
    // `source` is held so that the characters' identity (their storage) stays a sound key: a
    // recolouring shares the characters and keeps the wrapping. It also keeps the pieces of its
    // characters alive, which the wrapping reads where they are.
    platform::AttributedText source_;
    PiecedBytes characters_;
    std::optional<WrappedText> layout_;
    WrappedText::Position top_;  // the first line shown
    std::int64_t scroll_ = 0;    // lines to move by at the next draw (up when negative)
    bool showsStart_ = true, showsEnd_ = true;  // of the last draw
    std::uint64_t shownEnd_ = 0;                // the byte after the last line drawn
    enum class Jump { none, start, end } jump_ = Jump::none;
};

}  // namespace host
