#include "platform/foundation/AttributedText.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <stdexcept>

namespace {

using platform::AttributedText;
using platform::AttributeEnumerationOptions;
using platform::AttributeRun;
using platform::AttributeValue;
using platform::AttributeValuePtr;
using platform::MutableAttributedText;
using platform::NSFontAttributeName;
using platform::NSForegroundColorAttributeName;
using platform::Range;
using platform::RgbaColor;
using platform::String;

const AttributeValuePtr kRed = AttributeValue::make(RgbaColor::redColor());
const AttributeValuePtr kBlue = AttributeValue::make(RgbaColor::blueColor());

// The runs of a key as (location, length, colour-or-none) triples, for readable expectations.
std::vector<std::tuple<std::uint64_t, std::uint64_t, std::string>> describe(
    const platform::detail::AttributedTextState& text, const platform::TextAttributeKey& key) {
    std::vector<std::tuple<std::uint64_t, std::uint64_t, std::string>> result;
    for (const AttributeRun& run : text.runs(key)) {
        std::string name = "none";
        if (run.value && run.value->color())
            name = *run.value->color() == RgbaColor::redColor() ? "red" : "blue";
        result.emplace_back(run.range.location, run.range.length, name);
    }
    return result;
}

TEST(AttributedText, MadeFromAStringWithAndWithoutAttributes) {
    const AttributedText plain(String("hello"));
    EXPECT_EQ(plain.length(), 5u);
    EXPECT_EQ(plain.string(), "hello");
    EXPECT_TRUE(plain.keys().empty());
    EXPECT_EQ(describe(plain, NSForegroundColorAttributeName),
              (decltype(describe(plain, NSForegroundColorAttributeName)){{0, 5, "none"}}));

    const AttributedText red(String("héllo"), {{NSForegroundColorAttributeName, kRed}});
    EXPECT_EQ(red.length(), 6u) << "lengths count UTF-8 bytes";
    Range effective;
    EXPECT_EQ(red.attribute(NSForegroundColorAttributeName, 3, &effective), kRed);
    EXPECT_EQ(effective, (Range{0, 6}));

    const AttributedText empty(String(""), {{NSForegroundColorAttributeName, kRed}});
    EXPECT_EQ(empty.length(), 0u);
    EXPECT_TRUE(empty.runs(NSForegroundColorAttributeName).empty());
}

TEST(AttributedText, EnumerationVisitsLongestRunsIncludingRunsWithoutValue) {
    MutableAttributedText text(String("aaaabbbbcccc"));
    text.addAttribute(NSForegroundColorAttributeName, kRed, {0, 2});
    text.addAttribute(NSForegroundColorAttributeName, kRed, {2, 2});  // joins the first run
    text.addAttribute(NSForegroundColorAttributeName, kBlue, {8, 4});
    EXPECT_EQ(describe(text, NSForegroundColorAttributeName),
              (decltype(describe(text, NSForegroundColorAttributeName)){
                  {0, 4, "red"}, {4, 4, "none"}, {8, 4, "blue"}}));

    // A range inside the text clips the runs to it.
    std::vector<Range> visited;
    text.enumerateAttribute(
        NSForegroundColorAttributeName, {3, 6}, AttributeEnumerationOptions::none,
        [&](const AttributeValuePtr&, Range range, bool&) { visited.push_back(range); });
    EXPECT_EQ(visited, (std::vector<Range>{{3, 1}, {4, 4}, {8, 1}}));

    // The stop flag ends the visit.
    visited.clear();
    text.enumerateAttribute(NSForegroundColorAttributeName, {0, 12},
                            AttributeEnumerationOptions::none,
                            [&](const AttributeValuePtr&, Range range, bool& stop) {
                                visited.push_back(range);
                                stop = true;
                            });
    EXPECT_EQ(visited.size(), 1u);
}

TEST(AttributedText, EditingTheVisitedRunContinuesRightAfterIt) {
    MutableAttributedText text(String("aaaabbbbcccc"));
    text.addAttribute(NSForegroundColorAttributeName, kRed, {0, 4});
    text.addAttribute(NSForegroundColorAttributeName, kBlue, {8, 4});
    std::vector<Range> visited;
    text.enumerateAttribute(NSForegroundColorAttributeName, {0, text.length()},
                            AttributeEnumerationOptions::none,
                            [&](const AttributeValuePtr&, Range range, bool&) {
                                visited.push_back(range);
                                // Making every run red merges it with the run before; the visit
                                // must still go on from the end of this run.
                                text.removeAttribute(NSForegroundColorAttributeName, range);
                                text.addAttribute(NSForegroundColorAttributeName, kRed, range);
                            });
    EXPECT_EQ(visited, (std::vector<Range>{{0, 4}, {4, 4}, {8, 4}}));
    EXPECT_EQ(describe(text, NSForegroundColorAttributeName),
              (decltype(describe(text, NSForegroundColorAttributeName)){{0, 12, "red"}}));
}

TEST(AttributedText, EditsSplitAndJoinRunsAndRejectRangesPastTheEnd) {
    MutableAttributedText text(String("0123456789"));
    text.addAttribute(NSForegroundColorAttributeName, kRed, {0, 10});
    text.addAttribute(NSForegroundColorAttributeName, kBlue, {3, 4});
    EXPECT_EQ(describe(text, NSForegroundColorAttributeName),
              (decltype(describe(text, NSForegroundColorAttributeName)){
                  {0, 3, "red"}, {3, 4, "blue"}, {7, 3, "red"}}));
    text.removeAttribute(NSForegroundColorAttributeName, {2, 6});
    EXPECT_EQ(describe(text, NSForegroundColorAttributeName),
              (decltype(describe(text, NSForegroundColorAttributeName)){
                  {0, 2, "red"}, {2, 6, "none"}, {8, 2, "red"}}));
    text.addAttribute(NSForegroundColorAttributeName, kRed, {1, 8});
    EXPECT_EQ(describe(text, NSForegroundColorAttributeName),
              (decltype(describe(text, NSForegroundColorAttributeName)){{0, 10, "red"}}));

    EXPECT_THROW(text.addAttribute(NSForegroundColorAttributeName, kRed, {5, 6}),
                 std::out_of_range);
    EXPECT_THROW(text.removeAttribute(NSForegroundColorAttributeName, {11, 0}), std::out_of_range);
    EXPECT_THROW(text.addAttribute(NSForegroundColorAttributeName, kRed, {~0ull, 2}),
                 std::out_of_range)
        << "an overflowing range end must not wrap around";
    EXPECT_NO_THROW(text.addAttribute(NSForegroundColorAttributeName, kBlue, {10, 0}));
}

TEST(AttributedText, AppendKeepsEachSidesAttributes) {
    MutableAttributedText text(
        String("title\n"),
        {{NSFontAttributeName, AttributeValue::make(platform::Font::boldSystemFontOfSize(34))}});
    text.appendAttributedString(
        AttributedText(String("body"), {{NSForegroundColorAttributeName, kBlue}}));
    EXPECT_EQ(text.string(), "title\nbody");
    EXPECT_EQ(
        describe(text, NSForegroundColorAttributeName),
        (decltype(describe(text, NSForegroundColorAttributeName)){{0, 6, "none"}, {6, 4, "blue"}}));
    const auto fonts = text.runs(NSFontAttributeName);
    ASSERT_EQ(fonts.size(), 2u);
    EXPECT_EQ(fonts[0].range, (Range{0, 6}));
    ASSERT_TRUE(fonts[0].value && fonts[0].value->font());
    EXPECT_TRUE(fonts[0].value->font()->isBold());
    EXPECT_EQ(fonts[1].value, nullptr);

    // Appending a text to itself, and appending nothing.
    MutableAttributedText twice(String("ab"), {{NSForegroundColorAttributeName, kRed}});
    twice.appendAttributedString(twice);
    EXPECT_EQ(twice.string(), "abab");
    EXPECT_EQ(describe(twice, NSForegroundColorAttributeName),
              (decltype(describe(twice, NSForegroundColorAttributeName)){{0, 4, "red"}}));
    twice.appendAttributedString(AttributedText());
    EXPECT_EQ(twice.length(), 4u);

    // Appending to an empty text takes the other's runs as they are.
    MutableAttributedText empty;
    empty.appendAttributedString(
        AttributedText(String("xy"), {{NSForegroundColorAttributeName, kBlue}}));
    EXPECT_EQ(describe(empty, NSForegroundColorAttributeName),
              (decltype(describe(empty, NSForegroundColorAttributeName)){{0, 2, "blue"}}));
}

TEST(AttributedText, CopiesShareCharactersButNeverEdits) {
    const AttributedText original(String(std::string(1 << 20, 'x')),
                                  {{NSForegroundColorAttributeName, kRed}});
    MutableAttributedText working = original.mutableCopy();
    EXPECT_EQ(working.characterStorage(), original.characterStorage());
    working.addAttribute(NSForegroundColorAttributeName, kBlue, {0, 10});
    EXPECT_EQ(describe(original, NSForegroundColorAttributeName),
              (decltype(describe(original, NSForegroundColorAttributeName)){{0, 1 << 20, "red"}}));

    // An immutable copy taken from the working copy must not see the working copy's later edits
    // (the two share runs until one of them edits).
    const AttributedText snapshot = working.copy();
    EXPECT_EQ(snapshot.characterStorage(), original.characterStorage());
    working.addAttribute(NSForegroundColorAttributeName, kBlue, {10, 10});
    working.appendAttributedString(AttributedText(String("tail")));
    EXPECT_EQ(snapshot.length(), 1u << 20);
    EXPECT_EQ(describe(snapshot, NSForegroundColorAttributeName),
              (decltype(describe(snapshot, NSForegroundColorAttributeName)){
                  {0, 10, "blue"}, {10, (1 << 20) - 10, "red"}}));

    // Converting a mutable text to a text is a copy too.
    const AttributedText converted = working;
    working.removeAttribute(NSForegroundColorAttributeName, {0, working.length()});
    EXPECT_EQ(converted.attribute(NSForegroundColorAttributeName, 0), kBlue);
}

TEST(AttributedText, EqualityComparesCharactersAndAttributesNotRunBoundaries) {
    MutableAttributedText a(String("abcd"));
    a.addAttribute(NSForegroundColorAttributeName, kRed, {0, 2});
    a.addAttribute(NSForegroundColorAttributeName, kRed, {2, 2});
    const AttributedText b(String("abcd"), {{NSForegroundColorAttributeName,
                                             AttributeValue::make(RgbaColor::redColor())}});
    EXPECT_EQ(a.copy(), b);
    a.removeAttribute(NSForegroundColorAttributeName, {0, 4});
    EXPECT_EQ(a.copy(), AttributedText(String("abcd")))
        << "a key with no value anywhere is the same as no key";
    EXPECT_FALSE(AttributedText(String("abcd")) == AttributedText(String("abce")));
}

// Random edits checked against a plain model that stores one value per byte.
TEST(AttributedText, RandomEditsAgreeWithAPerPositionModel) {
    std::mt19937 random(20261207);
    const std::vector<AttributeValuePtr> palette{nullptr, kRed, kBlue,
                                                 AttributeValue::make(RgbaColor::redColor())};
    auto paletteIndex = [&](const AttributeValuePtr& value) -> int {
        if (!value)
            return 0;
        return *value->color() == RgbaColor::redColor() ? 1 : 2;
    };
    for (int round = 0; round < 200; ++round) {
        const std::size_t initial = random() % 40;
        MutableAttributedText text(String(std::string(initial, 'a')));
        std::vector<int> model(initial, 0);
        for (int step = 0; step < 30; ++step) {
            const int operation = static_cast<int>(random() % 6);
            if (operation == 5) {
                const std::size_t added = random() % 8;
                const int colour = static_cast<int>(random() % 3);
                platform::AttributeDictionary attributes;
                if (colour)
                    attributes.push_back({NSForegroundColorAttributeName,
                                          palette[static_cast<std::size_t>(colour)]});
                text.appendAttributedString(
                    AttributedText(String(std::string(added, 'b')), attributes));
                if (added > 0)
                    model.insert(model.end(), added, colour);
                continue;
            }
            const std::uint64_t location = model.empty() ? 0 : random() % (model.size() + 1);
            const std::uint64_t length = random() % (model.size() - location + 1);
            const AttributeValuePtr value = palette[random() % palette.size()];
            text.addAttribute(NSForegroundColorAttributeName, value, {location, length});
            for (std::uint64_t i = location; i < location + length; ++i)
                model[i] = paletteIndex(value);
        }
        const AttributedText result = text.copy();
        ASSERT_EQ(result.length(), model.size());
        std::uint64_t covered = 0;
        int previous = -1;
        for (const AttributeRun& run : result.runs(NSForegroundColorAttributeName)) {
            ASSERT_EQ(run.range.location, covered);
            const int colour = paletteIndex(run.value);
            ASSERT_NE(colour, previous) << "runs must be longest: neighbours differ";
            for (std::uint64_t i = run.range.location; i < run.range.end(); ++i)
                ASSERT_EQ(model[i], colour) << "round " << round;
            covered = run.range.end();
            previous = colour;
        }
        ASSERT_EQ(covered, model.size());
    }
}

}  // namespace

namespace {

// Regression: a text with many runs that lives until the process exits used to hand its run
// buffer to a per-thread cache that had already been destroyed (a double free at exit).
TEST(AttributedTextDeathTest, ALongLivedTextWithManyRunsIsFreedSafelyAtExit) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            static AttributedText longLived = [] {
                MutableAttributedText text(String(std::string(4096, 'x')));
                for (std::uint64_t i = 0; i < 4096; i += 2)
                    text.addAttribute(NSForegroundColorAttributeName, kRed, {i, 1});
                return text.copy();
            }();
            // An edited copy that goes away leaves its buffer in the thread's cache.
            {
                MutableAttributedText edited = longLived.mutableCopy();
                edited.addAttribute(NSForegroundColorAttributeName, kBlue, {0, 1});
            }
            std::exit(longLived.runs(NSForegroundColorAttributeName).size() == 4096 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
