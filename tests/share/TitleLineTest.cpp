#include "share/TitleLine.h"

#include <gtest/gtest.h>

#include "handover/TitleCases.h"

namespace {

using platform::String;
using quorvane::titleLine;

TEST(TitleLine, TakesTheTrimmedTextUpToAndIncludingItsFirstLineBreak) {
    struct Row {
        const char* name;
        std::string text;
        std::string title;
    };
    const Row rows[] = {
        {"empty", "", ""},
        {"one line with spaces around", "  Hello world \t", "Hello world"},
        {"title and body", "Title\nBody\nMore", "Title\n"},
        {"blank lines and CR LF", "\n\n   Title\r\nBody", "Title\r\n"},
        {"only spaces and breaks", " \n\t \r\n \u2028 ", ""},
        {"lone CR", "Title\rBody", "Title\r"},
        {"CR at the very end is trimmed", "Title\r", "Title"},
        {"line separator", "Title\u2028Body", "Title\u2028"},
        {"paragraph separator", "Title\u2029Body", "Title\u2029"},
        {"next line", "Title\u0085Body", "Title\u0085"},
        {"vertical tab and form feed", "A\vB", "A\v"},
        {"form feed", "A\fB", "A\f"},
        {"no-break space and ideographic space trimmed", "\u00a0\u3000Title\u3000\u00a0", "Title"},
        {"other spaces trimmed", "\u2000\u200a\u202f\u205f\u1680Title\u2009", "Title"},
        {"zero width space is not white space", "\u200bTitle\u200b\nbody", "\u200bTitle\u200b\n"},
        {"inner spaces kept", "A \u00a0 B", "A \u00a0 B"},
        {"emoji kept", "  \U0001F600 Party \U0001F389\nrest", "\U0001F600 Party \U0001F389\n"},
        {"family emoji sequence kept", "\U0001F468\u200D\U0001F469\u200D\U0001F467",
         "\U0001F468\u200D\U0001F469\u200D\U0001F467"},
        {"combining marks kept", "e\u0301te\u0301\nx", "e\u0301te\u0301\n"},
        {"trailing combining mark is not white space", "cafe\u0301 ", "cafe\u0301"},
        {"zero-width joiner is not trimmed", "\u200dA", "\u200dA"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(titleLine(String(row.text)).view(), row.title) << row.name;
}

// The sheet's line is the line every reader of the import folder lists and names the text by,
// with the line break that ends it.
TEST(TitleLine, IsTheLineTheReadersTitleTheTextBy) {
    for (const auto& row : testing_support::kTitleCases)
        EXPECT_EQ(titleLine(String(row.text)).view(), row.line) << row.name;
}

TEST(TitleLine, ToleratesBytesThatAreNotUtf8) {
    // Invalid bytes count as ordinary characters: nothing is dropped or read past the end.
    EXPECT_EQ(titleLine(String(std::string("\xff\xfe title\nmore"))).view(), "\xff\xfe title\n");
    EXPECT_EQ(titleLine(String(std::string(" \xe2\x80"))).view(), "\xe2\x80")
        << "a cut-off sequence";
    EXPECT_EQ(titleLine(String(std::string("\xc0\x8a x"))).view(), "\xc0\x8a x")
        << "an overlong line feed";
    EXPECT_EQ(titleLine(String(std::string("x \xed\xa0\x80"))).view(), "x \xed\xa0\x80")
        << "a surrogate";
}

TEST(TitleLine, SharesTheCharactersOfTheText) {
    const String text(std::string(100000, 'a') + "\nbody");
    const String title = titleLine(text);
    EXPECT_EQ(title.size(), 100001u);
    EXPECT_EQ(title.storageIdentity(), text.storageIdentity());
}

}  // namespace
