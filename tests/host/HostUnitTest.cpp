// The host's pure parts, without a process or a terminal: options, the streaming UTF-8 check,
// key decoding, wrapping, styled spans, the JSON outcome and listings.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <limits>
#include <thread>

#include <nlohmann/json.hpp>

#include "host/cli/UsageText.h"
#include "host/frontend/HostOptions.h"
#include "host/frontend/InputText.h"
#include "host/frontend/ListingFormat.h"
#include "host/frontend/OutcomeReport.h"
#include "host/screens/TextWrap.h"
#include "host/session/StyledSpans.h"
#include "host/tty/KeyDecoder.h"
#include "platform/foundation/AttributeValue.h"
#include "platform/foundation/TextAttributeKey.h"
#include "support/TemporaryFolder.h"

namespace {

using host::HostOptions;
using host::UsageError;
using platform::ContentSizeCategory;

// What `write` puts on a descriptor, read back from a temporary file.
std::string captured(const std::function<void(frame::Output&)>& write) {
    FILE* file = ::tmpfile();
    {
        frame::Output out(::fileno(file));
        write(out);
    }
    std::string bytes;
    ::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;)
        bytes.push_back(static_cast<char>(c));
    ::fclose(file);
    return bytes;
}

TEST(HostOptions, ParsesWhatPeopleType) {
    const auto parse = [](std::vector<std::string> arguments) {
        return host::parseHostOptions(arguments);
    };
    struct Row {
        std::vector<std::string> arguments;
        ContentSizeCategory textSize;
        std::uint64_t maxSize;
    };
    const Row accepted[] = {
        {{"--send", "-"}, ContentSizeCategory::large, host::kDefaultMaxInputSize},
        {{"--text-size", "ax5", "-"},
         ContentSizeCategory::accessibilityExtraExtraExtraLarge,
         host::kDefaultMaxInputSize},
        {{"--text-size=XSMALL", "--max-size=200M", "-"},
         ContentSizeCategory::extraSmall,
         200u << 20},
        {{"--max-size", "7", "-"}, ContentSizeCategory::large, 7},
        {{"--max-size", "2g", "-"}, ContentSizeCategory::large, std::uint64_t(2) << 30},
        // From nothing (only the empty text) to what ULONG_MAX prints (no cap in practice).
        {{"--max-size", "0", "-"}, ContentSizeCategory::large, 0},
        {{"--max-size=18446744073709551615", "-"},
         ContentSizeCategory::large,
         std::numeric_limits<std::uint64_t>::max()},
        {{"--max-size", "17179869183G", "-"},
         ContentSizeCategory::large,
         std::uint64_t(17179869183) << 30},
    };
    for (const Row& row : accepted) {
        const auto parsed = parse(row.arguments);
        ASSERT_TRUE(std::holds_alternative<HostOptions>(parsed)) << row.arguments[1];
        EXPECT_EQ(std::get<HostOptions>(parsed).settings.textSize, row.textSize);
        EXPECT_EQ(std::get<HostOptions>(parsed).maxInputSize, row.maxSize);
    }
    const std::pair<std::vector<std::string>, const char*> refused[] = {
        {{"--max-size", "12X", "-"}, "not a size"},
        {{"--max-size", "1Q", "-"}, "not a size"},
        {{"--max-size", "-1", "-"}, "not a size"},
        {{"--max-size", "18446744073709551616", "-"}, "not a size"},
        {{"--max-size", "99999999999999999999G", "-"}, "not a size"},
        {{"--max-size", "99999999999999999999", "-"}, "not a size"},
        {{"--max-size", "17179869184G", "-"}, "not a size"},
        {{"--max-size"}, "needs a size"},
        {{"-0"}, "give --list with it"},
        {{"--list", "--null", "--json"}, "choose one"},
    };
    for (const auto& [arguments, message] : refused) {
        const auto parsed = parse(arguments);
        ASSERT_TRUE(std::holds_alternative<UsageError>(parsed)) << arguments[0];
        EXPECT_NE(std::get<UsageError>(parsed).message.find(message), std::string::npos)
            << std::get<UsageError>(parsed).message;
    }
    // The desktop's own options: known to its parser only, and checked against the input.
    EXPECT_TRUE(std::holds_alternative<UsageError>(parse({"--clipboard"})));
    EXPECT_TRUE(std::holds_alternative<UsageError>(parse({"--selection"})));
    const auto selection =
        host::parseHostOptions({"--selection", "--send"}, host::FrontEnd::desktop);
    ASSERT_TRUE(std::holds_alternative<HostOptions>(selection));
    EXPECT_TRUE(std::get<HostOptions>(selection).selection);
    const auto desktop = host::parseHostOptions(
        {"--clipboard", "--screenshot=sheet.png", "--appearance", "Dark"}, host::FrontEnd::desktop);
    ASSERT_TRUE(std::holds_alternative<HostOptions>(desktop));
    EXPECT_TRUE(std::get<HostOptions>(desktop).clipboard);
    EXPECT_EQ(std::get<HostOptions>(desktop).screenshot, "sheet.png");
    EXPECT_TRUE(std::get<HostOptions>(desktop).appearanceGiven);
    EXPECT_EQ(std::get<HostOptions>(desktop).settings.appearance,
              platform::UserInterfaceStyle::dark);  // any letter case
    EXPECT_FALSE(std::get<HostOptions>(desktop).textSizeGiven);
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{"--clipboard", "note.txt"},
                                               {"--controls", "--clipboard"},
                                               {"--screenshot"},
                                               {"--selection", "note.txt"},
                                               {"--selection", "--clipboard"},
                                               {"--controls", "--selection"}})
        EXPECT_TRUE(std::holds_alternative<UsageError>(
            host::parseHostOptions(arguments, host::FrontEnd::desktop)))
            << arguments[0];
    // --help names every environment variable the host reads.
    const std::string help = host::usageText("quorvane-share");
    for (const char* variable : {"QUORVANE_CONTAINER_ROOT", "XDG_DATA_HOME", "HOME",
                                 "QUORVANE_EXTENSION_BUNDLE", "NO_COLOR", "TERM", "COLORTERM"})
        EXPECT_NE(help.find(variable), std::string::npos) << variable;
}

TEST(InputText, TheStreamCheckAgreesWithTheWholeTextWhereverThePiecesAreCut) {
    const std::string texts[] = {
        "plain",
        "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xac end",
        "cut at the end \xe2\x82",
        "bad \xc0\xaf in the middle",
        "surrogate \xed\xa0\x80",
        "\xff at the start",
    };
    for (const std::string& text : texts) {
        const auto whole = host::firstInvalidUtf8(text);
        for (std::size_t cut = 0; cut <= text.size(); ++cut) {
            host::Utf8StreamCheck check;
            auto bad = check.feed(std::string_view(text).substr(0, cut));
            if (!bad)
                bad = check.finish(text);
            EXPECT_EQ(bad, whole) << text << " cut at " << cut;
        }
    }
}

// The check settles long runs of valid text in vectorised blocks and walks only what fails:
// wherever a bad byte sits in a long text, and wherever the stream is cut around it, the
// offset reported is that byte's.
TEST(InputText, TheFirstBadByteIsFoundAtEveryOffsetAcrossEveryCut) {
    std::string valid;
    while (valid.size() < 200)
        valid += "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xac plain words ";
    const std::string bad[] = {"\xff",         "\x80",         "\xc3",     "\xe2\x82",
                               "\xf0\x9f\x8e", "\xed\xa0\x80", "\xc0\xaf", "\xf4\x90\x80\x80"};
    for (const std::string& fault : bad) {
        for (std::size_t at = 0; at <= valid.size(); ++at) {
            // Only at a character boundary: inside a character the fault's offset moves back.
            if (at < valid.size() && (static_cast<unsigned char>(valid[at]) & 0xC0) == 0x80)
                continue;
            const std::string text = valid.substr(0, at) + fault + "tail" + valid.substr(at);
            ASSERT_EQ(host::firstInvalidUtf8(text), at) << "fault at " << at;
            for (std::size_t cut : {at > 0 ? at - 1 : 0, at, at + 1, at + fault.size()}) {
                host::Utf8StreamCheck check;
                auto found = check.feed(std::string_view(text).substr(0, cut));
                if (!found)
                    found = check.feed(text);
                if (!found)
                    found = check.finish(text);
                EXPECT_EQ(found, at) << "fault at " << at << ", cut at " << cut;
            }
        }
    }
    // A long valid text cut at every byte: whole, it passes however it was fed; ended at the
    // cut, it fails exactly when the cut falls inside a character, at that character's start.
    for (std::size_t cut = 0; cut <= valid.size(); ++cut) {
        host::Utf8StreamCheck check;
        EXPECT_EQ(check.feed(std::string_view(valid).substr(0, cut)), std::nullopt) << cut;
        EXPECT_EQ(check.finish(valid), std::nullopt) << cut;
        std::size_t start = cut;
        while (start > 0 && start < valid.size() &&
               (static_cast<unsigned char>(valid[start]) & 0xC0) == 0x80)
            --start;
        const std::string_view head = std::string_view(valid).substr(0, cut);
        EXPECT_EQ(host::Utf8StreamCheck().finish(head),
                  start < cut ? std::optional<std::uint64_t>(start) : std::nullopt)
            << cut;
    }
}

// Whole inputs, from a file (read a piece at a time) and from a pipe (read into pieces that
// are joined at the end): texts cut short and bad bytes at every offset around the places
// where one read or one piece ends and the next begins. A valid text comes back byte for
// byte; any other is refused with the offset the whole-text check gives, never a neighbour's.
TEST(InputText, WholeInputsAreCheckedExactlyAcrossReadsAndPieces) {
    const std::string unit = "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x8e\xac";  // 1, 2, 3 and 4 bytes
    const auto textOf = [&](std::size_t size) {
        std::string text;
        text.reserve(size + unit.size());
        while (text.size() < size)
            text += unit;
        return text;
    };
    testing_support::TemporaryFolder folder;
    const std::string file = (folder.path() / "text").string();
    // `from`: the start of a character before which `text` is known to be valid.
    const auto expectRead = [](const std::variant<std::string, host::InputProblem>& read,
                               const std::string& text, std::size_t from, const std::string& name) {
        auto bad = host::firstInvalidUtf8(std::string_view(text).substr(from));
        if (bad)
            *bad += from;
        if (!bad) {
            ASSERT_TRUE(std::holds_alternative<std::string>(read))
                << name << ": " << std::get<host::InputProblem>(read).message;
            EXPECT_TRUE(std::get<std::string>(read) == text) << name;
            return;
        }
        ASSERT_TRUE(std::holds_alternative<host::InputProblem>(read)) << name;
        const auto& problem = std::get<host::InputProblem>(read);
        EXPECT_EQ(problem.kind, host::InputProblem::Kind::notUtf8) << name;
        EXPECT_NE(problem.message.find("offset " + std::to_string(*bad) + ")"), std::string::npos)
            << name << ": " << problem.message;
    };
    // Through a pipe, fed by a writer of its own, as a program piping into the host would.
    const auto readPiped = [](const std::string& text) {
        int ends[2];
        EXPECT_EQ(::pipe(ends), 0);
        std::thread writer([&] {
            // The reader may close its end before all is written; that must end this write
            // with EPIPE, not end the whole test with SIGPIPE. Blocked here, the signal stays
            // with this thread and is dropped when it ends.
            sigset_t pipeSignal;
            ::sigemptyset(&pipeSignal);
            ::sigaddset(&pipeSignal, SIGPIPE);
            ::pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
            for (std::size_t at = 0; at < text.size();) {
                const ssize_t wrote = ::write(ends[1], text.data() + at, text.size() - at);
                if (wrote <= 0)
                    break;  // the reader stopped early, at a bad byte
                at += static_cast<std::size_t>(wrote);
            }
            ::close(ends[1]);
        });
        auto read = host::readInputText("/dev/fd/" + std::to_string(ends[0]), 64 << 20);
        ::close(ends[0]);
        writer.join();
        return read;
    };
    struct Row {
        const char* input;
        std::vector<std::size_t> borders;  // where reads or pieces of this input may end
    };
    // A file is read a quarter megabyte at a time; a pipe into pieces of 4 MB, the first of
    // which holds 4 MB and the few bytes of a sequence cut at its end.
    const std::size_t piece = std::size_t(4) << 20;
    const Row rows[] = {
        {"file", {128 << 10, 256 << 10, 512 << 10}},
        {"pipe", {piece + 2}},
    };
    for (const Row& row : rows) {
        const std::string valid = textOf(row.borders.back() + 64);
        const auto read = [&](const std::string& text) {
            if (row.input == std::string("pipe"))
                return readPiped(text);
            testing_support::writeFile(file, text);
            return host::readInputText(file, 64 << 20);
        };
        expectRead(read(valid), valid, 0, std::string(row.input) + " whole");
        for (const std::size_t border : row.borders) {
            const std::size_t from = (border - 16) / unit.size() * unit.size();
            for (std::size_t at = border - 6; at <= border + 6; ++at) {
                const std::string name = std::string(row.input) + " at " + std::to_string(at);
                expectRead(read(valid.substr(0, at)), valid.substr(0, at), from,
                           name + ", cut short");
                std::string bad = valid.substr(0, border + 16);
                bad[at] = '\xff';
                expectRead(read(bad), bad, from, name + ", a bad byte");
                bad[at] = valid[at] == 'a' ? '\x80' : 'a';  // a stray or a missing continuation
                expectRead(read(bad), bad, from, name + ", a broken sequence");
            }
        }
    }
}

TEST(KeyDecoder, TurnsBytesIntoKeysAndWaitsForUnfinishedOnes) {
    using Kind = host::Key::Kind;
    struct Row {
        const char* name;
        std::string bytes;
        bool quiet;
        std::vector<Kind> keys;
        std::size_t left;  // bytes kept for later
    };
    const Row rows[] = {
        {"arrows and pages",
         "\x1b[A\x1b[B\x1bOC\x1b[D\x1b[5~\x1b[6~",
         false,
         {Kind::up, Kind::down, Kind::right, Kind::left, Kind::pageUp, Kind::pageDown},
         0},
        {"home and end in both forms",
         "\x1b[H\x1b[1~\x1b[F\x1b[4;5~",
         false,
         {Kind::home, Kind::home, Kind::end, Kind::end},
         0},
        {"enter from CR or LF", "\r\n", false, {Kind::enter, Kind::enter}, 0},
        {"a lone Esc waits for quiet", "\x1b", false, {}, 1},
        {"then is the Esc key", "\x1b", true, {Kind::escape}, 0},
        {"Esc before a letter", "\x1bq", false, {Kind::escape, Kind::character}, 0},
        {"a cut character waits", "\xe2\x82", false, {}, 2},
        {"an unknown sequence is dropped", "\x1b[99z", false, {}, 0},
        {"an unfinished sequence is dropped when quiet", "\x1b[12", true, {}, 0},
    };
    for (const Row& row : rows) {
        std::string bytes = row.bytes;
        std::vector<host::Key> keys;
        host::decodeKeys(bytes, keys, row.quiet);
        std::vector<Kind> kinds;
        for (const auto& key : keys)
            kinds.push_back(key.kind);
        EXPECT_EQ(kinds, row.keys) << row.name;
        EXPECT_EQ(bytes.size(), row.left) << row.name;
    }
    std::string euro = "\xe2\x82\xac";
    std::vector<host::Key> keys;
    host::decodeKeys(euro, keys, false);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_TRUE(keys[0].is(U'\u20AC'));
}

TEST(TextWrap, BreaksAtLineBreaksThenSpacesThenWithinWords) {
    const auto lines = [](std::string_view text, int width) {
        std::vector<std::string> out;
        for (const auto& range : host::wrapLines(text, width))
            out.emplace_back(text.substr(range.location, range.length));
        return out;
    };
    using Lines = std::vector<std::string>;
    EXPECT_EQ(lines("one two three", 7), (Lines{"one two", "three"}));
    EXPECT_EQ(lines("a\r\nb\n", 10), (Lines{"a", "b"}));
    EXPECT_EQ(lines("abcdefgh", 3), (Lines{"abc", "def", "gh"}));
    EXPECT_EQ(lines("", 5), (Lines{""}));
    EXPECT_EQ(lines("\xe4\xb8\xad\xe6\x96\x87\xe5\xad\x97", 4),
              (Lines{"\xe4\xb8\xad\xe6\x96\x87", "\xe5\xad\x97"}))
        << "wide characters take two columns";
}

platform::AttributedText styledSample() {
    platform::MutableAttributedText text(platform::String("Title\n\"quoted\"\tbody\x01"));
    const auto bold = platform::AttributeValue::make(platform::Font::boldSystemFontOfSize(34));
    const auto body = platform::AttributeValue::make(platform::Font::systemFontOfSize(17));
    text.addAttribute(platform::NSFontAttributeName, bold, {0, 6});
    text.addAttribute(platform::NSFontAttributeName, body, {6, text.length() - 6});
    text.addAttribute(platform::NSForegroundColorAttributeName,
                      platform::AttributeValue::make(platform::RgbaColor(1, 0.5, -2, 1)), {8, 4});
    return text.copy();
}

TEST(StyledSpans, EndWhereverTheFontOrTheColourChangesAndClipToTheRange) {
    const platform::AttributedText text = styledSample();
    const host::StyledSpans spans(text);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> seen;
    spans.forEach({3, 8}, [&](const host::StyledSpan& span) {
        seen.emplace_back(span.range.location, span.range.length);
    });
    EXPECT_EQ(seen, (std::vector<std::pair<std::uint64_t, std::uint64_t>>{{3, 3}, {6, 2}, {8, 3}}));
    EXPECT_EQ(spans.smallestPointSize(), 17);
}

TEST(OutcomeReport, TheJsonIsExactWhateverTheTextHolds) {
    host::ShareOutcome outcome;
    outcome.kind = host::ShareOutcome::Kind::cancelled;
    outcome.error = platform::PlatformError{"Some.Domain", 0, {}, nullptr};
    outcome.newFiles = {platform::URL::fileURLWithPath("/c/regular/imported/A")};
    outcome.navigationTitle = platform::String("Title\n");
    outcome.textViewContent = styledSample();
    const std::vector<std::string> listing = {"/c/x\ny", "/c/stray\xff"};
    const std::string written =
        captured([&](frame::Output& out) { host::writeOutcomeJson(out, &outcome, &listing); });
    const auto report = nlohmann::json::parse(written);
    EXPECT_EQ(report["outcome"], "cancelled");
    EXPECT_EQ(report["cancelledButSaved"], "/c/regular/imported/A");
    EXPECT_EQ(report["textView"]["string"], "Title\n\"quoted\"\tbody\x01");
    EXPECT_EQ(report["textView"]["runs"][0], (nlohmann::json{{"start", 0},
                                                             {"length", 6},
                                                             {"fontSize", 34.0},
                                                             {"bold", true},
                                                             {"foregroundColor", nullptr}}));
    EXPECT_EQ(report["textView"]["runs"][2]["foregroundColor"], "#ff8000");
    EXPECT_EQ(report["importFolder"][0], "/c/x\ny");
    EXPECT_EQ(host::exitStatusFor(outcome), host::kExitCancelledButSaved);
}

// Paths read back to their exact bytes: two names that differ only in bytes that are not UTF-8
// stay different. On a terminal no control or bidirectional character goes out raw.
TEST(OutcomeReport, PathsAreExactAndNothingRawReachesATerminal) {
    const std::pair<std::string, nlohmann::json> paths[] = {
        {"/c/plain", "/c/plain"},
        {"/c/bad\xff\xfe", {{"base64", "L2MvYmFk//4="}}},
        {"/c/bad\xfe\xff", {{"base64", "L2MvYmFk/v8="}}},
        {"/c/\xc0\xaf", {{"base64", "L2MvwK8="}}},
        {"/c/caf\xc3\xa9", "/c/caf\u00e9"},
    };
    for (const auto& [path, expected] : paths) {
        const std::string written =
            captured([&](frame::Output& out) { host::writeJsonPath(out, path); });
        EXPECT_EQ(nlohmann::json::parse(written), expected) << written;
    }
    const std::string controls =
        "a\x1b[2J\x7f\xc2\x9b\xc2\x85\xd8\x9c\xe2\x80\x8e\xe2\x80\x8f\xe2\x80\xae\xe2\x81\xa6z";
    host::ShareOutcome outcome;
    outcome.kind = host::ShareOutcome::Kind::completed;
    outcome.newFiles = {platform::URL::fileURLWithPath("/c/" + controls)};
    outcome.navigationTitle = platform::String(controls);
    outcome.textViewContent = platform::AttributedText(platform::String(controls));
    const std::vector<std::string> listing = {"/c/" + controls};
    const std::string onTerminal = captured([&](frame::Output& out) {
        host::writeOutcomeJson(out, &outcome, &listing, host::JsonTarget::terminal);
    });
    for (const char* raw : {"\x1b", "\x7f", "\xc2\x9b", "\xc2\x85", "\xd8\x9c", "\xe2\x80\x8e",
                            "\xe2\x80\x8f", "\xe2\x80\xae", "\xe2\x81\xa6"})
        EXPECT_EQ(onTerminal.find(raw), std::string::npos) << onTerminal;
    // Still the same JSON.
    const auto report = nlohmann::json::parse(onTerminal);
    EXPECT_EQ(report["navigationTitle"], controls);
    EXPECT_EQ(report["textView"]["string"], controls);
    EXPECT_EQ(report["files"][0], "/c/" + controls);
    EXPECT_EQ(report["importFolder"][0], "/c/" + controls);
}

TEST(ListingFormat, NamesThatCouldActOnATerminalAreQuoted) {
    const std::pair<const char*, const char*> rows[] = {
        {"/c/plain name", "/c/plain name"},
        {"/c/caf\xc3\xa9", "/c/caf\xc3\xa9"},
        {"/c/two\nlines", "$'/c/two\\nlines'"},
        {"/c/\x1b[2Jclear", "$'/c/\\e[2Jclear'"},
        {"/c/it's\x7f", "$'/c/it\\'s\\x7F'"},
        {"/c/\xe2\x80\xaeright-to-left", "$'/c/\\xE2\\x80\\xAEright-to-left'"},
        {"/c/stray\xff", "$'/c/stray\\xFF'"},
        {"/c/\xe2\x80\x8fmark", "$'/c/\\xE2\\x80\\x8Fmark'"},
        {"/c/\xe2\x80\x8emark", "$'/c/\\xE2\\x80\\x8Emark'"},
        {"/c/\xd8\x9cmark", "$'/c/\\xD8\\x9Cmark'"},
    };
    for (const auto& [path, shown] : rows)
        EXPECT_EQ(host::quotedForTerminal(path), shown) << shown;
    EXPECT_EQ(captured([](frame::Output& out) {
                  host::writeListingEntry(out, "a\nb", host::ListingFormat::nulSeparated);
                  host::writeListingEntry(out, "c", host::ListingFormat::lines);
              }),
              std::string("a\nb\0c\n", 6));
}

}  // namespace
