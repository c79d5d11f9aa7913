// The terminal sheet's pure parts: what a cluster of characters takes on screen, how many
// colours a terminal shows, its keys, and the wrapping of a text a screen at a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/screens/TextWrap.h"
#include "host/screens/VisualOrder.h"
#include "host/tty/KeyDecoder.h"
#include "host/tty/TerminalCapabilities.h"
#include "host/tty/TerminalPaint.h"
#include "platform/foundation/Unicode.h"

namespace {

using host::WrappedText;
using platform::Range;

TEST(TerminalPaint, ClustersTakeTheColumnsTheTerminalGivesThem) {
    struct Case {
        const char* name;
        std::string text;
        int clusters;
        int perCharacter;      // columns on a terminal that gives each character its width
        int graphemeClusters;  // on one that draws an emoji sequence as one picture
    };
    const Case cases[] = {
        {"Latin letter", "a", 1, 1, 1},
        {"combining acute", "e\u0301", 1, 1, 1},
        {"Devanagari: marks over a letter take no column", "मुख्य", 3, 3, 3},
        {"Devanagari: a spacing vowel sign takes one", "काम", 2, 3, 3},
        {"Han", "中", 1, 2, 2},
        {"Tangut", "\U00017000", 1, 2, 2},
        {"Kana Supplement", "\U0001B001", 1, 2, 2},
        {"geometric shape U+1F7F0", "\U0001F7F0", 1, 2, 2},
        {"emoji with skin tone", "👍🏽", 1, 4, 2},
        {"joined family", "👨\u200D👩\u200D👧", 1, 6, 2},
        {"flag", "🇫🇷", 1, 2, 2},
        {"heart as emoji", "❤\uFE0F", 1, 1, 2},
        {"heart as text", "❤", 1, 1, 1},
        {"Hangul syllable", "한", 1, 2, 2},
        {"Hangul jamo", "\u1112\u1161\u11AB", 1, 2, 2},
        {"Hebrew", "שלום", 4, 4, 4},
        {"tab", "\t", 1, host::kTabColumns, host::kTabColumns},
        {"escape, as its picture", "\x1b", 1, 1, 1},
        {"C1 control", "\xc2\x9b", 1, 1, 1},
        {"right-to-left override, by name", "\u202E", 1, 5, 5},
        {"byte that is not UTF-8", "\xff", 1, 1, 1},
        {"mixed", "a中👍🏽\u202E", 4, 12, 10},
    };
    for (const Case& each : cases) {
        int clusters = 0;
        for (std::size_t i = 0; i < each.text.size(); ++clusters)
            i += host::clusterAt(each.text, i, host::kCharacterWidths).size;
        EXPECT_EQ(clusters, each.clusters) << each.name;
        EXPECT_EQ(host::columnsOf(each.text, host::kCharacterWidths), each.perCharacter)
            << each.name;
        EXPECT_EQ(host::columnsOf(each.text, host::kClusterWidths), each.graphemeClusters)
            << each.name;
    }

    // A row never splits a cluster or grows past its width.
    host::Row row(5, {}, host::ColourDepth::none);
    row.text("中中中", {});
    EXPECT_EQ(row.column(), 4);
    EXPECT_EQ(host::ellipsized("中中中", 4), "中…");
}

TEST(TerminalPaint, TheWidthRuleIsTheOneTheTerminalsAnswersGive) {
    using host::WidthRule;
    struct Case {
        const char* name;
        std::vector<std::optional<int>> measured;  // family, emoji heart, Devanagari syllable
        WidthRule rule;
    };
    const Case cases[] = {
        {"draws clusters whole", {2, 2, 2}, host::kClusterWidths},
        {"gives each character its width", {6, 1, 2}, host::kCharacterWidths},
        {"joins emoji only (tmux 3.3)", {2, 1, 2}, WidthRule{.joinedEmoji = true}},
        {"draws spacing vowel signs over the letter", {6, 1, 1}, WidthRule{.spacingMarks = false}},
        {"no answer: the C library's widths", {}, host::kCharacterWidths},
        {"answers only the first probe", {2, std::nullopt}, WidthRule{.joinedEmoji = true}},
        {"answers that fit neither way", {4, 3, 5}, host::kCharacterWidths},
    };
    ASSERT_EQ(host::widthProbes().size(), 3u);
    for (const Case& each : cases)
        EXPECT_TRUE(host::widthRuleFor(each.measured) == each.rule) << each.name;
    // Under the chosen rule, the spacing vowel sign is drawn as the terminal drew it.
    EXPECT_EQ(host::columnsOf("काम", WidthRule{.spacingMarks = false}), 2);
}

TEST(VisualOrder, RightToLeftLinesReadAsAReaderReadsThem) {
    // The visual order as text, mirrored brackets drawn mirrored.
    const auto shown = [](std::string_view line, bool* rightToLeft) {
        std::string out;
        for (const host::VisualCluster& cluster : host::visualOrder(line, rightToLeft)) {
            if (cluster.mirrored.empty())
                out += line.substr(cluster.start, cluster.size);
            else
                for (const char32_t c : cluster.mirrored)
                    platform::appendUtf8(out, c);
        }
        return out;
    };
    struct Case {
        const char* name;
        std::string line;
        std::string visual;
        bool rightToLeft;
    };
    const Case cases[] = {
        {"left to right, untouched", "Hello, world", "Hello, world", false},
        {"Hebrew", "שלום עולם", "םלוע םולש", true},
        {"Arabic letters with a mark stay one cluster", "\u0628\u064E\u0627", "\u0627\u0628\u064E",
         true},
        {"numbers keep their order", "שנת 2026", "2026 תנש", true},
        {"Latin inside Hebrew", "אב abc גד", "דג abc בא", true},
        {"Hebrew inside Latin", "say שלום now", "say םולש now", false},
        {"brackets face the right way", "א (ב)", "(ב) א", true},
        {"override controls do not act", "\u202Eabc", "\u202Eabc", false},
    };
    for (const Case& each : cases) {
        bool rightToLeft = !each.rightToLeft;
        EXPECT_EQ(shown(each.line, &rightToLeft), each.visual) << each.name;
        EXPECT_EQ(rightToLeft, each.rightToLeft) << each.name;
    }
}

TEST(TerminalPaint, ColourDepthFollowsTheEnvironmentAndTheTerminal) {
    using host::ColourDepth;
    struct Case {
        const char* noColor;
        const char* colorTerm;
        int colours;  // as the terminal's description counts them
        ColourDepth depth;
    };
    const Case cases[] = {
        {nullptr, nullptr, 8, ColourDepth::basic8},
        {nullptr, nullptr, 16, ColourDepth::basic8},
        {nullptr, nullptr, 256, ColourDepth::palette256},
        {nullptr, "truecolor", 256, ColourDepth::direct},
        {nullptr, "24bit", 8, ColourDepth::direct},
        {nullptr, nullptr, 1 << 24, ColourDepth::direct},
        {"1", "truecolor", 256, ColourDepth::none},
        {"", nullptr, 256, ColourDepth::palette256},   // an empty NO_COLOR counts as unset
        {nullptr, "truecolor", 0, ColourDepth::none},  // a terminal without colours
        {nullptr, nullptr, 2, ColourDepth::none},
    };
    for (const Case& each : cases) {
        EXPECT_EQ(host::colourDepthFor(each.noColor, each.colorTerm, each.colours), each.depth)
            << each.colours << " colours, NO_COLOR=" << (each.noColor ? each.noColor : "(unset)")
            << " COLORTERM=" << (each.colorTerm ? each.colorTerm : "(unset)");
    }
    // The counts come from the terminal's description.
    EXPECT_EQ(host::TerminalCapabilities::load("xterm")->colours, 8);
    EXPECT_EQ(host::TerminalCapabilities::load("xterm-256color")->colours, 256);
    EXPECT_EQ(host::TerminalCapabilities::load("vt100")->colours, 0);

    // The sheet needs a cursor it can move: a dumb terminal has none, an unknown one is none.
    EXPECT_FALSE(host::TerminalCapabilities::load("dumb")->canAddressCursor());
    EXPECT_EQ(host::TerminalCapabilities::load("vt100")->moveTo(4, 0), "\x1b[5;1H");
    EXPECT_FALSE(host::TerminalCapabilities::load("no-such-terminal"));
    EXPECT_FALSE(host::TerminalCapabilities::load(""));
    EXPECT_FALSE(host::TerminalCapabilities::load(nullptr));
}

TEST(KeyDecoder, TheTerminalsOwnSequencesComeFirstAndMayArriveInPieces) {
    using Kind = host::Key::Kind;
    const host::KeySequences known{{"\x1b[11~", Kind::home}, {"\x1bOA", Kind::up}};
    struct Case {
        const char* name;
        std::string bytes;
        bool quiet;
        std::vector<Kind> keys;
        std::string left;
    };
    const Case cases[] = {
        {"described sequences",
         "\x1b[11~\x1bOAq",
         false,
         {Kind::home, Kind::up, Kind::character},
         ""},
        {"cut short: wait for the rest", "\x1b[1", false, {}, "\x1b[1"},
        {"nothing more came: dropped", "\x1b[1", true, {}, ""},
        {"nothing followed: the Esc key", "\x1b", true, {Kind::escape}, ""},
        {"others still known", "\x1b[B\x1b[6~", false, {Kind::down, Kind::pageDown}, ""},
    };
    for (const Case& each : cases) {
        std::string bytes = each.bytes;
        std::vector<host::Key> keys;
        host::decodeKeys(bytes, keys, each.quiet, known);
        std::vector<Kind> kinds;
        for (const host::Key& key : keys)
            kinds.push_back(key.kind);
        EXPECT_EQ(kinds, each.keys) << each.name;
        EXPECT_EQ(bytes, each.left) << each.name;
    }
}

TEST(TextWrap, WrapsAtSpacesAndBetweenClusters) {
    struct Case {
        const char* name;
        std::string text;
        int width;
        std::vector<Range> lines;
    };
    const Case cases[] = {
        {"at the last space", "one two", 4, {{0, 3}, {4, 3}}},
        {"wide characters", "中文字符", 5, {{0, 6}, {6, 6}}},
        {"a mark stays with its letter", "ae\u0301e\u0301", 2, {{0, 4}, {4, 3}}},
        {"CR LF once, none after the last break", "a\r\n\r\nb\n", 9, {{0, 1}, {3, 0}, {5, 1}}},
        {"empty", "", 9, {{0, 0}}},
    };
    for (const Case& each : cases)
        EXPECT_EQ(host::wrapLines(each.text, each.width), each.lines) << each.name;
}

// The lines of `text` as WrappedText walks them, from the first down or from the last up.
std::vector<Range> walk(WrappedText& wrapped, bool down) {
    std::vector<Range> lines;
    WrappedText::Position at = down ? WrappedText::first() : wrapped.last();
    for (;;) {
        lines.push_back(wrapped.line(at));
        std::int64_t moved = 0;
        at = wrapped.moved(at, down ? 1 : -1, &moved);
        if (moved == 0)
            break;
    }
    if (!down)
        std::reverse(lines.begin(), lines.end());
    return lines;
}

TEST(TextWrap, WrappedTextShowsTheSameLinesFromEitherEnd) {
    // Short paragraphs: exactly the lines of the whole text.
    const std::string small =
        "Title\r\n\r\nsome words to wrap\u2028next\xc2\x85"
        "after\xe2\x80\xa9\nlast line\n";
    WrappedText smallWrapped(small, 7);
    EXPECT_EQ(walk(smallWrapped, true), host::wrapLines(small, 7));
    EXPECT_EQ(walk(smallWrapped, false), host::wrapLines(small, 7));

    // Paragraphs longer than a block, with characters of every length and breaks of every kind
    // around the places where blocks are cut.
    std::string big = "start\n";
    const std::string pieces[] = {"word ", "中文 ", "e\u0301 ", "👍🏽 ", "\r\n", "x"};
    for (std::size_t i = 0; big.size() < 5 * WrappedText::kBlockBytes; ++i) {
        const bool longParagraph = (big.size() / WrappedText::kBlockBytes) % 2 == 0;
        big += pieces[longParagraph ? i % 4 : i % 6];
    }
    big += "end";
    WrappedText wrapped(big, 33);
    const std::vector<Range> down = walk(wrapped, true);
    EXPECT_EQ(walk(wrapped, false), down);
    std::size_t previousEnd = 0;
    for (const Range& line : down) {
        EXPECT_GE(line.location, previousEnd);
        EXPECT_LE(host::columnsOf(std::string_view(big).substr(line.location, line.length)), 33);
        previousEnd = line.location + line.length;
    }
    EXPECT_EQ(previousEnd, big.size());
    EXPECT_EQ(down.front(), (Range{0, 5}));
    for (std::size_t i = 0; i < down.size(); i += 97)
        EXPECT_EQ(wrapped.line(wrapped.at(down[i].location)), down[i]) << i;

    // The same text held in pieces, cut anywhere (inside characters, clusters and CR LF, and
    // across block cuts): the same lines, read without joining the whole.
    std::vector<std::string_view> cut;
    for (std::size_t at = 0, size = 1; at < big.size(); at += size, size = size * 7 % 40009 + 1)
        cut.push_back(std::string_view(big).substr(at, size));
    cut.insert(cut.begin() + 2, std::string_view());
    WrappedText pieced(host::PiecedBytes(cut), 33);
    EXPECT_EQ(walk(pieced, false), down);
    EXPECT_EQ(walk(pieced, true), down);
    for (std::size_t i = 0; i < down.size(); i += 89)
        EXPECT_EQ(pieced.line(pieced.at(down[i].location)), down[i]) << i;
}

}  // namespace
