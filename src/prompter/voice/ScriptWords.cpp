#include "prompter/voice/ScriptWords.h"

#include <QRegularExpression>
#include <QString>
#include <algorithm>

namespace prompter::voice {
namespace {

// The line breaks the view splits paragraphs at: LF, VT, FF, CR (CR LF as one), NEL, and the
// line and paragraph separators.
std::size_t lineBreakAt(std::string_view text, std::size_t i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x0A && c <= 0x0C)
        return 1;
    if (c == 0x0D)
        return i + 1 < text.size() && text[i + 1] == '\n' ? 2 : 1;
    if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x85)
        return 2;
    if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
        (static_cast<unsigned char>(text[i + 2]) == 0xA8 ||
         static_cast<unsigned char>(text[i + 2]) == 0xA9))
        return 3;
    return 0;
}

bool isIdeographLead(unsigned char c) {
    return c >= 0xE3 && c <= 0xE9;
}

std::size_t sequenceLength(unsigned char c) {
    if (c < 0x80)
        return 1;
    if ((c & 0xE0) == 0xC0)
        return 2;
    if ((c & 0xF0) == 0xE0)
        return 3;
    if ((c & 0xF8) == 0xF0)
        return 4;
    return 1;
}

struct Paragraph {
    std::size_t counted = 0;
    std::size_t countedBare = 0;
};

// The words of one line, added to `into`. A cue runs from a `[` to the next `]` on the line
// (an unclosed `[` is text) and parts words as a space does.
Paragraph readLine(std::string_view line, std::size_t paragraph, std::vector<SpokenWord>& into) {
    Paragraph counts;
    std::size_t first = 0;
    while (first < line.size() && (line[first] == ' ' || line[first] == '\t'))
        ++first;
    const bool heading = first < line.size() && line[first] == '#';
    std::vector<std::pair<std::size_t, std::size_t>> cues;  // [open, close]
    for (std::size_t open = line.find('['); open != std::string_view::npos;) {
        const std::size_t close = line.find(']', open + 1);
        if (close == std::string_view::npos)
            break;
        cues.emplace_back(open, close);
        open = line.find('[', close + 1);
    }
    std::size_t cue = 0;
    const auto cueAt = [&](std::size_t at) {
        while (cue < cues.size() && cues[cue].second < at)
            ++cue;
        return cue < cues.size() && cues[cue].first <= at ? &cues[cue] : nullptr;
    };
    static const QRegularExpression joiners(QStringLiteral("[-\u2010-\u2015/]+"));
    std::size_t i = 0;
    while (i < line.size()) {
        const auto c = static_cast<unsigned char>(line[i]);
        if (c == ' ' || c == '\t') {
            ++i;
            continue;
        }
        if (const auto* span = cueAt(i)) {
            // A cue's words: counted with cues, never said.
            bool boundary = true;
            for (std::size_t j = i; j <= span->second; ++j) {
                const auto d = static_cast<unsigned char>(line[j]);
                const bool space = d == ' ' || d == '\t';
                if ((boundary && !space && (d & 0xC0) != 0x80) || isIdeographLead(d))
                    ++counts.counted;
                boundary = space || isIdeographLead(d) || (boundary && (d & 0xC0) == 0x80);
            }
            i = span->second + 1;
            continue;
        }
        // One word: up to the next space or cue, or one ideograph.
        const bool ideograph = isIdeographLead(c);
        std::size_t j = i;
        do {
            j += std::min(sequenceLength(static_cast<unsigned char>(line[j])), line.size() - j);
        } while (!ideograph && j < line.size() && line[j] != ' ' && line[j] != '\t' &&
                 !isIdeographLead(static_cast<unsigned char>(line[j])) && !cueAt(j));
        if (!heading) {
            // A hyphen, a dash or a slash joins words said one after the other.
            const std::string_view word = line.substr(i, j - i);
            const QString joined =
                QString::fromUtf8(word.data(), static_cast<qsizetype>(word.size()));
            for (const QString& part : joined.split(joiners, Qt::SkipEmptyParts)) {
                const QByteArray utf8 = part.toUtf8();
                std::string text = normalised(std::string_view(utf8.constData(), utf8.size()));
                if (!text.empty())
                    into.push_back(
                        {std::move(text), paragraph, counts.counted, counts.countedBare});
            }
        }
        i = j;
        ++counts.counted;
        ++counts.countedBare;
    }
    return counts;
}

}  // namespace

std::string normalised(std::string_view word) {
    const QString lower =
        QString::fromUtf8(word.data(), static_cast<qsizetype>(word.size())).toLower();
    QString kept;
    for (QChar c : lower) {
        if (c == QChar(0x2019))
            c = QLatin1Char('\'');
        if (c.isLetterOrNumber() || c == QLatin1Char('\'') || c.isMark())
            kept.append(c);
    }
    // Apostrophes at the edges are quotation marks.
    while (kept.startsWith(QLatin1Char('\'')))
        kept.remove(0, 1);
    while (kept.endsWith(QLatin1Char('\'')))
        kept.chop(1);
    return kept.toStdString();
}

ScriptWords ScriptWords::read(std::string_view text) {
    ScriptWords words;
    std::size_t start = 0;
    std::size_t i = 0;
    const auto endLine = [&](std::size_t end) {
        const Paragraph counts =
            readLine(text.substr(start, end - start), words.counted.size(), words.spoken);
        words.counted.push_back(counts.counted);
        words.countedBare.push_back(counts.countedBare);
    };
    while (i < text.size()) {
        if (const std::size_t length = lineBreakAt(text, i)) {
            endLine(i);
            i += length;
            start = i;
        } else {
            ++i;
        }
    }
    endLine(text.size());
    return words;
}

}  // namespace prompter::voice
