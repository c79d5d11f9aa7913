// TerminalPaint: rows of styled character cells for the interactive screens, written as escape
// sequences, and the rule that turns the toolkit's points into cells.
//
// Sections: points and cells · colours and styles · characters · rows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// How many colours the terminal shows: none, the 8 basic ones, the 256-colour palette, or any
// 24-bit colour.
enum class ColourDepth { none, basic8, palette256, direct };

// From the environment's NO_COLOR and COLORTERM (each may be null) and the number of colours
// the terminal's description gives (its "colors"; 0 or less when it has none). No colour when
// NO_COLOR is set and not empty, or when the terminal has fewer than 8 colours; 24-bit when
// COLORTERM is "truecolor" or "24bit" or the terminal counts 2^24 colours; the 256-colour
// palette from 256 colours on; else the 8 basic ones.
//   colourDepthFor(nullptr, nullptr, 256) == ColourDepth::palette256
[[nodiscard]] ColourDepth colourDepthFor(const char* noColor, const char* colorTerm,
                                         int terminalColours);

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

// What the screen shows is counted in grapheme clusters (what a reader takes for one
// character), each as wide as the terminal will draw it. Terminals differ in three ways, so a
// width rule is three choices; without them each character takes its own width, as the C
// library's wcwidth gives it (a mark over the character before none, a wide East Asian
// character or an emoji two, a joiner or selector none), as xterm and VTE draw:
//   joinedEmoji       a sequence of emoji joined by zero-width joiners, or an emoji with a skin
//                     tone, is one picture two columns wide (not six for a family of three);
//   emojiSelector     a narrow symbol with the emoji presentation selector (U+FE0F) is two
//                     columns wide (a heart, a keycap);
//   spacingMarks      a spacing vowel sign (Devanagari's ा) takes a column of its own, as
//                     wcwidth says; a terminal without it draws it over the letter before.
// A flag and a Hangul syllable made of jamo take two columns under every rule. The terminal
// is asked at start which it follows (see widthRuleFor). A tab takes kTabColumns. A cluster is
// never split across rows or by clipping.
//
// Characters the terminal would act on never reach it: C0 controls and DEL show as their
// control pictures (U+2400...), C1 controls as U+FFFD, and the bidirectional embedding,
// override and isolate controls (U+202A to U+202E, U+2066 to U+2069), which would reorder what
// the person sees, as a bracketed name such as "‹RLO›". Bytes that are not UTF-8 show as U+FFFD.
inline constexpr int kTabColumns = 4;

struct Cluster {
    std::size_t size = 0;  // bytes
    int columns = 0;
};

struct WidthRule {
    bool joinedEmoji = false;
    bool emojiSelector = false;
    bool spacingMarks = true;
    friend bool operator==(const WidthRule&, const WidthRule&) = default;
};
// The C library's widths, character by character; and a terminal that draws clusters whole.
inline constexpr WidthRule kCharacterWidths{};
inline constexpr WidthRule kClusterWidths{.joinedEmoji = true, .emojiSelector = true};

// The rule every width below follows unless given one: set once at start, before anything is
// drawn, from the terminal's answers. kCharacterWidths until then.
void setWidthRule(WidthRule rule);
[[nodiscard]] WidthRule widthRule();

// The clusters a terminal is asked to draw at start, one at a time, one for each choice of the
// rule: a joined family, a heart with the emoji selector, a Devanagari syllable with a spacing
// vowel sign.
[[nodiscard]] const std::vector<std::string_view>& widthProbes();
// The rule that gives the widths the terminal measured for widthProbes() (none where it did
// not answer): each choice from its probe's width; where the answer is missing or fits neither
// way, the C library's.
//   widthRuleFor({2, 2, 2}) == kClusterWidths
//   widthRuleFor({2, 1, 2}) == WidthRule{.joinedEmoji = true}  (tmux 3.3)
[[nodiscard]] WidthRule widthRuleFor(const std::vector<std::optional<int>>& measured);

// The cluster starting at byte `position` of `utf8` (which must be inside it).
[[nodiscard]] Cluster clusterAt(std::string_view utf8, std::size_t position);
[[nodiscard]] Cluster clusterAt(std::string_view utf8, std::size_t position, WidthRule rule);

// ---- rows ----

// One screen row, exactly `width` cells wide once finished. Text is clipped at the right edge,
// before the first cluster that does not fit; characters are shown as described above.
class Row {
  public:
    Row(int width, CellStyle base, ColourDepth depth);

    void text(std::string_view utf8, const CellStyle& style);
    // Fills with spaces in `style` up to `column` (nothing when already past it).
    void padTo(int column, const CellStyle& style);
    [[nodiscard]] int column() const { return column_; }
    [[nodiscard]] int width() const { return width_; }
    [[nodiscard]] const CellStyle& base() const { return base_; }
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
[[nodiscard]] int columnsOf(std::string_view utf8, WidthRule rule);
// `utf8` when it fits in `columns`, else its longest start that fits with "…" after it.
[[nodiscard]] std::string ellipsized(std::string_view utf8, int columns);

}  // namespace host
