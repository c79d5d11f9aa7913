// TerminalPaint: rows of styled character cells for the interactive screens, written as escape
// sequences, and the rule that turns the toolkit's points into cells.
//
// Sections: points and cells · colours and styles · characters · rows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "host/session/Colour.h"

namespace host {

// ---- points and cells ----

// One column is 10 points: a character of the body text at the default size is 0.6 x 17
// points wide by the toolkit's own measure, about 10. One row is 20 points, about one line of
// body text. So the text view's 20-point side insets are two columns each.
inline constexpr double kPointsPerColumn = 10.0;
inline constexpr double kPointsPerRow = 20.0;

// The cell holding the point `points` from the screen's left edge (or top edge, for rows).
[[nodiscard]] int columnAt(double points);
[[nodiscard]] int rowAt(double points);

// ---- colours and styles ----

// How many colours the terminal shows: none (NO_COLOR, TERM=dumb or unset, or a terminal type
// without colour), the 8 basic ones, the 256-colour palette, or any 24-bit colour.
enum class ColourDepth { none, basic8, palette256, direct };

// From the environment's NO_COLOR, TERM and COLORTERM (each may be null): no colour when
// NO_COLOR is set and not empty, when TERM is unset, empty or "dumb", or names a terminal type
// not known to have colour (vt100, vt220, ...); 24-bit when COLORTERM is "truecolor" or
// "24bit"; 256 when TERM names a 256-colour type; 8 for the other colour terminals (xterm,
// screen, tmux, rxvt, linux, ... and any TERM with "color" in its name).
[[nodiscard]] ColourDepth colourDepthFor(const char* noColor, const char* term,
                                         const char* colorTerm);

struct CellStyle {
    std::optional<Rgb> foreground;  // none: the terminal's own
    std::optional<Rgb> background;
    bool bold = false;
    bool dim = false;
    bool underline = false;
    bool reverse = false;
    friend bool operator==(const CellStyle&, const CellStyle&) = default;
};

// The select-graphic-rendition sequence that sets exactly `style` (it starts from a reset), with
// the colours reduced to what `depth` shows. Bold, dim, underline and reverse are kept at every
// depth: NO_COLOR asks only for no colour.
[[nodiscard]] std::string graphicRendition(const CellStyle& style, ColourDepth depth);

// ---- characters ----

// Columns the character takes on screen: 0 for combining marks and invisible joiners, 2 for
// wide East Asian characters and emoji, kTabColumns for a tab, else 1. Control characters
// count as the one-cell picture they are shown as.
inline constexpr int kTabColumns = 4;
[[nodiscard]] int cellWidth(char32_t character);

// ---- rows ----

// One screen row, exactly `width` cells wide once finished. Text is clipped at the right edge.
// Characters the terminal would act on never reach it: control characters show as their
// control pictures (U+2400...), C1 controls as U+FFFD, a tab as spaces.
class Row {
  public:
    Row(int width, CellStyle base, ColourDepth depth);

    void text(std::string_view utf8, const CellStyle& style);
    // Fills with spaces in `style` up to `column` (nothing when already past it).
    void padTo(int column, const CellStyle& style);
    [[nodiscard]] int column() const { return column_; }
    [[nodiscard]] int width() const { return width_; }
    // The row's bytes, padded to the width in the base style.
    [[nodiscard]] std::string finish();

  private:
    void use(const CellStyle& style);

    int width_;
    CellStyle base_;
    ColourDepth depth_;
    int column_ = 0;
    std::optional<CellStyle> current_;
    std::string bytes_;
};

// The number of columns `utf8` takes (as Row would draw it).
[[nodiscard]] int columnsOf(std::string_view utf8);
// `utf8` when it fits in `columns`, else its longest start that fits with "…" after it.
[[nodiscard]] std::string ellipsized(std::string_view utf8, int columns);

}  // namespace host
