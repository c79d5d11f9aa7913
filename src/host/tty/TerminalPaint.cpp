#include "host/tty/TerminalPaint.h"

#include "platform/foundation/Unicode.h"

#include <locale.h>
#include <utf8proc.h>
#include <wchar.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <string_view>
#include <utility>

namespace host {
namespace {

constexpr char32_t kReplacement = platform::kReplacementCharacter;

// The bracketed name a bidirectional control is shown as (all the same width), or nothing.
constexpr int kMarkerColumns = 5;
std::string_view bidiMarker(char32_t c) {
    switch (c) {
        case 0x202A:
            return "‹LRE›";
        case 0x202B:
            return "‹RLE›";
        case 0x202C:
            return "‹PDF›";
        case 0x202D:
            return "‹LRO›";
        case 0x202E:
            return "‹RLO›";
        case 0x2066:
            return "‹LRI›";
        case 0x2067:
            return "‹RLI›";
        case 0x2068:
            return "‹FSI›";
        case 0x2069:
            return "‹PDI›";
        default:
            return {};
    }
}

bool isControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c < 0xA0);
}

// Appends what the screen shows for one scalar.
void appendShown(std::string& out, char32_t c) {
    if (c == '\t') {
        out.append(static_cast<std::size_t>(kTabColumns), ' ');
    } else if (c < 0x20) {
        platform::appendUtf8(out, 0x2400 + c);  // control pictures: ␀ ... ␟
    } else if (c == 0x7F) {
        platform::appendUtf8(out, 0x2421);  // ␡
    } else if (c >= 0x80 && c < 0xA0) {
        platform::appendUtf8(out, kReplacement);
    } else if (const std::string_view marker = bidiMarker(c); !marker.empty()) {
        out += marker;
    } else {
        platform::appendUtf8(out, c);
    }
}

int boundClass(char32_t c) {
    return utf8proc_get_property(static_cast<utf8proc_int32_t>(c))->boundclass;
}

// The C library's width of a character, read in a UTF-8 locale whatever the program's locale
// is; the Unicode database's where the C library knows none (it gives -1).
int charWidth(char32_t c) {
    static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    int width = -1;
    if (utf8 && c >= 0x80) {
        const locale_t previous = ::uselocale(utf8);
        width = ::wcwidth(static_cast<wchar_t>(c));
        ::uselocale(previous);
    } else if (c >= 0x20 && c < 0x7F) {
        width = 1;
    }
    return width >= 0 ? width : utf8proc_charwidth(static_cast<utf8proc_int32_t>(c));
}

// The rule in force, as bits: joinedEmoji 1, emojiSelector 2, spacingMarks 4.
std::atomic<unsigned> gWidthRule{4};

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

ColourDepth colourDepthFor(const char* noColor, const char* colorTerm, int terminalColours) {
    if (!colourAllowedByEnvironment(noColor) || terminalColours < 8)
        return ColourDepth::none;
    const std::string_view colours = colorTerm ? colorTerm : "";
    if (colours == "truecolor" || colours == "24bit" || terminalColours >= (1 << 24))
        return ColourDepth::direct;
    return terminalColours >= 256 ? ColourDepth::palette256 : ColourDepth::basic8;
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

void setWidthRule(WidthRule rule) {
    gWidthRule.store((rule.joinedEmoji ? 1u : 0u) | (rule.emojiSelector ? 2u : 0u) |
                         (rule.spacingMarks ? 4u : 0u),
                     std::memory_order_relaxed);
}

WidthRule widthRule() {
    const unsigned bits = gWidthRule.load(std::memory_order_relaxed);
    return {(bits & 1u) != 0, (bits & 2u) != 0, (bits & 4u) != 0};
}

const std::vector<std::string_view>& widthProbes() {
    static const std::vector<std::string_view> probes{
        "\U0001F468\u200D\U0001F469\u200D\U0001F467",  // man, woman, girl, joined
        "\u2764\uFE0F",                                // heart, as emoji
        "\u0915\u093E",                                // KA with the vowel sign AA
    };
    return probes;
}

WidthRule widthRuleFor(const std::vector<std::optional<int>>& measured) {
    WidthRule rule = kCharacterWidths;
    const auto& probes = widthProbes();
    // Each choice: the answer for its probe, where it is the width one way or the other.
    const auto choose = [&](std::size_t probe, bool WidthRule::*choice) {
        if (probe >= measured.size() || !measured[probe])
            return;
        WidthRule with = kCharacterWidths, without = kCharacterWidths;
        with.*choice = true;
        without.*choice = false;
        if (*measured[probe] == columnsOf(probes[probe], with))
            rule.*choice = true;
        else if (*measured[probe] == columnsOf(probes[probe], without))
            rule.*choice = false;
    };
    choose(0, &WidthRule::joinedEmoji);
    choose(1, &WidthRule::emojiSelector);
    choose(2, &WidthRule::spacingMarks);
    return rule;
}

Cluster clusterAt(std::string_view utf8, std::size_t position) {
    return clusterAt(utf8, position, widthRule());
}

Cluster clusterAt(std::string_view utf8, std::size_t position, WidthRule rule) {
    std::size_t i = position;
    const char32_t first = platform::nextScalar(utf8, i);
    // Controls and bidirectional controls stand alone: a cluster always breaks around them.
    if (first == '\t')
        return {i - position, kTabColumns};
    if (isControl(first))
        return {i - position, 1};
    if (!bidiMarker(first).empty())
        return {i - position, kMarkerColumns};

    utf8proc_int32_t state = 0;
    char32_t previous = first;
    const auto widthOf = [&](char32_t c) {
        if (!rule.spacingMarks &&
            utf8proc_category(static_cast<utf8proc_int32_t>(c)) == UTF8PROC_CATEGORY_MC)
            return 0;
        return charWidth(c);
    };
    int summed = widthOf(first);
    int regionalIndicators = boundClass(first) == UTF8PROC_BOUNDCLASS_REGIONAL_INDICATOR ? 1 : 0;
    bool selector = false, joined = false;  // a variation selector 16; a joiner or skin tone
    while (i < utf8.size()) {
        std::size_t next = i;
        const char32_t c = platform::nextScalar(utf8, next);
        if (utf8proc_grapheme_break_stateful(static_cast<utf8proc_int32_t>(previous),
                                             static_cast<utf8proc_int32_t>(c), &state))
            break;
        selector = selector || c == 0xFE0F;
        joined = joined || c == 0x200D || (c >= 0x1F3FB && c <= 0x1F3FF);
        regionalIndicators += boundClass(c) == UTF8PROC_BOUNDCLASS_REGIONAL_INDICATOR ? 1 : 0;
        summed += widthOf(c);
        previous = c;
        i = next;
    }

    // Each character takes its own width, the marks drawn over the character before, unless
    // the terminal draws the cluster as one picture (see WidthRule). A flag and a Hangul
    // syllable made of jamo are one wide picture on every terminal.
    int columns = summed;
    switch (boundClass(first)) {
        case UTF8PROC_BOUNDCLASS_EXTENDED_PICTOGRAPHIC:
            if (rule.joinedEmoji && joined)
                columns = 2;
            else if (rule.emojiSelector && selector && !joined)
                columns = 2;
            break;
        case UTF8PROC_BOUNDCLASS_REGIONAL_INDICATOR:
            columns = regionalIndicators >= 2 ? 2 : 1;
            break;
        case UTF8PROC_BOUNDCLASS_L:
        case UTF8PROC_BOUNDCLASS_LV:
        case UTF8PROC_BOUNDCLASS_LVT:
            columns = 2;
            break;
        default:
            break;
    }
    return {i - position, columns};
}

int columnsOf(std::string_view utf8) {
    return columnsOf(utf8, widthRule());
}

int columnsOf(std::string_view utf8, WidthRule rule) {
    int columns = 0;
    for (std::size_t i = 0; i < utf8.size();) {
        const Cluster cluster = clusterAt(utf8, i, rule);
        columns += cluster.columns;
        i += cluster.size;
    }
    return columns;
}

std::string ellipsized(std::string_view utf8, int columns) {
    if (columnsOf(utf8) <= columns)
        return std::string(utf8);
    if (columns <= 0)
        return {};
    int used = 0;
    std::size_t end = 0;
    while (end < utf8.size()) {
        const Cluster cluster = clusterAt(utf8, end);
        if (used + cluster.columns > columns - 1)
            break;
        used += cluster.columns;
        end += cluster.size;
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
        const Cluster cluster = clusterAt(utf8, i);
        if (column_ + cluster.columns > width_)
            break;
        use(style);
        for (const std::size_t end = i + cluster.size; i < end;)
            appendShown(bytes_, platform::nextScalar(utf8, i));
        column_ += cluster.columns;
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
