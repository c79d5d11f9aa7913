// TitleCases: texts and the title line every side of the hand-over must find in them: the
// readers' title (the words) and the share sheet's line (the words and the line break that ends
// them, when more than white space follows). The readers' rule and the sheet's are both tested
// against this one table, so the title a text is listed and named by is the one it was shown by.
#pragma once

#include <string>

namespace testing_support {

struct TitleCase {
    const char* name;
    std::string text;
    std::string title;  // what a reader lists and names the text by
    std::string line;   // what the sheet shows as the bold first line
};

inline const TitleCase kTitleCases[] = {
    {"empty", "", "", ""},
    {"one line with spaces around", "  Hello world \t", "Hello world", "Hello world"},
    {"title and body", "Title\nBody\nMore", "Title", "Title\n"},
    {"blank lines and CR LF", "\n\n   Title\r\nBody", "Title", "Title\r\n"},
    {"white space before the break", "Evening news \r\nGood evening", "Evening news",
     "Evening news \r\n"},
    {"the first line blank", " \t\n\nSecond", "Second", "Second"},
    {"only spaces and breaks", " \n\t \r\n \u2028 ", "", ""},
    {"lone CR", "Title\rBody", "Title", "Title\r"},
    {"a break followed by white space alone", "Title\r\n \t\u3000\n", "Title", "Title"},
    {"line separator", "Title\u2028Body", "Title", "Title\u2028"},
    {"paragraph separator", "Title\u2029Body", "Title", "Title\u2029"},
    {"next line", "Title\u0085Body", "Title", "Title\u0085"},
    {"vertical tab and form feed break lines", "A\vB\fC", "A", "A\v"},
    {"no-break and ideographic spaces are white space", "\u00a0\u3000Title\u3000\u00a0", "Title",
     "Title"},
    {"other spaces are white space", "\u2000\u200a\u202f\u205f\u1680Title\u2009", "Title", "Title"},
    {"a zero width space is not", "\u200bTitle\u200b\nbody", "\u200bTitle\u200b",
     "\u200bTitle\u200b\n"},
    {"inner spaces kept", "A \u00a0 B\nx", "A \u00a0 B", "A \u00a0 B\n"},
    {"emoji and combining marks kept", "  \U0001F600 Cafe\u0301 \nrest", "\U0001F600 Cafe\u0301",
     "\U0001F600 Cafe\u0301 \n"},
    // Bytes that are not UTF-8 are ordinary characters: nothing is dropped or read past the end.
    {"bytes that are not UTF-8", "\xff\xfe title\nmore", "\xff\xfe title", "\xff\xfe title\n"},
    {"an overlong line feed breaks nothing", "\xc0\x8a x", "\xc0\x8a x", "\xc0\x8a x"},
    {"a surrogate at the end", "x \xed\xa0\x80", "x \xed\xa0\x80", "x \xed\xa0\x80"},
    {"a line separator cut short", " \xe2\x80", "\xe2\x80", "\xe2\x80"},
    {"a line separator right after a lone lead byte", "\xf0\xe2\x80\xa8x", "\xf0",
     "\xf0\xe2\x80\xa8"},
};

}  // namespace testing_support
