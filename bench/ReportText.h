// The text the window benchmarks show: a news report of about `bytes`, paragraphs of a few
// lines of prose, one per line break, headed by a title line.
#pragma once

#include <cstddef>
#include <string>

inline std::string reportText(std::size_t bytes) {
    const std::string line =
        "The harbour bridge reopens after two years of repairs, and the council votes tonight. ";
    std::string text = "Evening bulletin\n";
    text.reserve(bytes + line.size() * 4);
    for (std::size_t paragraph = 0; text.size() < bytes; ++paragraph) {
        for (int i = 0; i < 3; ++i)
            text += line;
        text += "Paragraph " + std::to_string(paragraph) + ".\n";
    }
    return text;
}
