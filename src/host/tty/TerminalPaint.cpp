#include "host/tty/TerminalPaint.h"

#include "platform/foundation/Unicode.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <utility>

namespace host {
namespace {

constexpr char32_t kReplacement = platform::kReplacementCharacter;

bool inRanges(char32_t c, const std::pair<char32_t, char32_t>* begin,
              const std::pair<char32_t, char32_t>* end) {
    const auto* it = std::upper_bound(
        begin, end, c, [](char32_t value, const auto& range) { return value < range.first; });
    return it != begin && c <= std::prev(it)->second;
}

// Combining marks, joiners and selectors that take no cell of their own (sorted).
constexpr std::pair<char32_t, char32_t> kZeroWidth[] = {
    {0x0300, 0x036F},   {0x0483, 0x0489},   {0x0591, 0x05BD}, {0x0610, 0x061A}, {0x064B, 0x065F},
    {0x0E31, 0x0E31},   {0x0E34, 0x0E3A},   {0x0E47, 0x0E4E}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF},
    {0x200B, 0x200F},   {0x2060, 0x2064},   {0x20D0, 0x20FF}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F},
    {0xE0000, 0xE007F}, {0xE0100, 0xE01EF},
};

// East Asian wide and full-width characters and the emoji presented wide (sorted).
constexpr std::pair<char32_t, char32_t> kWide[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},
    {0x23F0, 0x23F0},   {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},
    {0x2648, 0x2653},   {0x267F, 0x267F},   {0x2693, 0x2693},   {0x26A1, 0x26A1},
    {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},   {0x26CE, 0x26CE},
    {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},
    {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},
    {0x2728, 0x2728},   {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},
    {0x2757, 0x2757},   {0x2795, 0x2797},   {0x27B0, 0x27B0},   {0x27BF, 0x27BF},
    {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2B55, 0x2B55},   {0x2E80, 0x303E},
    {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
    {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},
    {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x1F004, 0x1F004},
    {0x1F0CF, 0x1F0CF}, {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A}, {0x1F200, 0x1F251},
    {0x1F300, 0x1F64F}, {0x1F680, 0x1F6FF}, {0x1F7E0, 0x1F7EB}, {0x1F90C, 0x1F9FF},
    {0x1FA70, 0x1FAFF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
};

// What the screen shows for a character: itself, or a harmless stand-in for one the terminal
// would act on.
char32_t shownAs(char32_t c) {
    if (c < 0x20)
        return 0x2400 + c;  // control pictures: ␀ ... ␟
    if (c == 0x7F)
        return 0x2421;  // ␡
    if (c >= 0x80 && c < 0xA0)
        return kReplacement;
    return c;
}

int basicIndex(Rgb c) {
    return (c.red >= 128 ? 1 : 0) | (c.green >= 128 ? 2 : 0) | (c.blue >= 128 ? 4 : 0);
}

int paletteIndex(Rgb c) {
    auto level = [](std::uint8_t v) { return static_cast<int>(std::lround(v / 255.0 * 5.0)); };
    return 16 + 36 * level(c.red) + 6 * level(c.green) + level(c.blue);
}

void appendColour(std::string& out, Rgb c, bool foreground, ColourDepth depth) {
    char text[32];
    switch (depth) {
        case ColourDepth::none:
            return;
        case ColourDepth::basic8:
            std::snprintf(text, sizeof text, ";%d", (foreground ? 30 : 40) + basicIndex(c));
            break;
        case ColourDepth::palette256:
            std::snprintf(text, sizeof text, ";%d;5;%d", foreground ? 38 : 48, paletteIndex(c));
            break;
        case ColourDepth::direct:
            std::snprintf(text, sizeof text, ";%d;2;%d;%d;%d", foreground ? 38 : 48, c.red, c.green,
                          c.blue);
            break;
    }
    out += text;
}

}  // namespace

int columnAt(double points) {
    return static_cast<int>(std::floor(points / kPointsPerColumn));
}

int rowAt(double points) {
    return static_cast<int>(std::floor(points / kPointsPerRow));
}

ColourDepth colourDepthFor(const char* noColor, const char* term, const char* colorTerm) {
    if (!colourAllowedByEnvironment(noColor))
        return ColourDepth::none;
    const std::string_view type = term ? term : "";
    if (type.empty() || type == "dumb")
        return ColourDepth::none;
    const std::string_view colours = colorTerm ? colorTerm : "";
    if (colours == "truecolor" || colours == "24bit")
        return ColourDepth::direct;
    if (type.find("256color") != std::string_view::npos || type.ends_with("-direct"))
        return ColourDepth::palette256;
    constexpr std::string_view kColourFamilies[] = {
        "xterm", "screen", "tmux",  "rxvt",   "linux",   "vte",   "alacritty", "kitty",
        "foot",  "st",     "putty", "cygwin", "konsole", "gnome", "ansi",      "wezterm"};
    if (type.find("color") != std::string_view::npos)
        return ColourDepth::basic8;
    for (const std::string_view family : kColourFamilies) {
        if (type == family || type.starts_with(std::string(family) + "-"))
            return ColourDepth::basic8;
    }
    return ColourDepth::none;
}

std::string graphicRendition(const CellStyle& style, ColourDepth depth) {
    std::string out = "\x1b[0";
    if (style.bold)
        out += ";1";
    if (style.dim)
        out += ";2";
    if (style.underline)
        out += ";4";
    if (style.reverse)
        out += ";7";
    if (style.foreground)
        appendColour(out, *style.foreground, true, depth);
    if (style.background)
        appendColour(out, *style.background, false, depth);
    return out + "m";
}

int cellWidth(char32_t c) {
    if (c == '\t')
        return kTabColumns;
    const char32_t shown = shownAs(c);
    if (inRanges(shown, std::begin(kZeroWidth), std::end(kZeroWidth)))
        return 0;
    if (inRanges(shown, std::begin(kWide), std::end(kWide)))
        return 2;
    return 1;
}

int columnsOf(std::string_view utf8) {
    int columns = 0;
    for (std::size_t i = 0; i < utf8.size();)
        columns += cellWidth(platform::nextScalar(utf8, i));
    return columns;
}

std::string ellipsized(std::string_view utf8, int columns) {
    if (columnsOf(utf8) <= columns)
        return std::string(utf8);
    if (columns <= 0)
        return {};
    int used = 0;
    std::size_t end = 0;
    for (std::size_t i = 0; i < utf8.size();) {
        const int width = cellWidth(platform::nextScalar(utf8, i));
        if (used + width > columns - 1)
            break;
        used += width;
        end = i;
    }
    return std::string(utf8.substr(0, end)) + "\u2026";
}

Row::Row(int width, CellStyle base, ColourDepth depth)
    : width_(std::max(width, 0)), base_(std::move(base)), depth_(depth) {}

void Row::use(const CellStyle& style) {
    if (current_ && *current_ == style)
        return;
    bytes_ += graphicRendition(style, depth_);
    current_ = style;
}

void Row::text(std::string_view utf8, const CellStyle& style) {
    for (std::size_t i = 0; i < utf8.size();) {
        const char32_t c = platform::nextScalar(utf8, i);
        const int columns = cellWidth(c);
        if (column_ + columns > width_)
            break;
        use(style);
        if (c == '\t') {
            bytes_.append(static_cast<std::size_t>(columns), ' ');
        } else {
            platform::appendUtf8(bytes_, shownAs(c));
        }
        column_ += columns;
    }
}

void Row::padTo(int column, const CellStyle& style) {
    const int target = std::min(column, width_);
    if (target <= column_)
        return;
    use(style);
    bytes_.append(static_cast<std::size_t>(target - column_), ' ');
    column_ = target;
}

std::string Row::finish() {
    padTo(width_, base_);
    return std::move(bytes_);
}

}  // namespace host
