#include "prompter/ScriptSource.h"

#include <algorithm>

namespace prompter {

ScriptSource::ScriptSource(std::shared_ptr<const qttext::TextSource> text, const ScriptIndex& index,
                           const std::vector<qttext::TextBlocks::Block>& blocks, QColor cueColour)
    : text_(std::move(text)), cues_(index.cues()), cueColour_(cueColour) {
    const auto line = [&](std::size_t paragraph, double scale) {
        const auto& block = blocks[paragraph];
        return Line{block.start, block.start + block.length, scale};
    };
    for (const auto& section : index.sections())
        lines_.push_back(line(section.paragraph, kHeadingScale));
    if (const auto title = index.titleParagraph(); title && !index.isHeading(*title))
        lines_.push_back(line(*title, 1.0));
    std::sort(lines_.begin(), lines_.end(),
              [](const Line& a, const Line& b) { return a.start < b.start; });
}

// The range cut at every edge of a styled line or a cue, each piece with its style.
void ScriptSource::forEachRun(std::uint64_t start, std::uint64_t length,
                              const std::function<void(const qttext::TextRun&)>& visit) const {
    const std::uint64_t end = std::min(start + length, text_->length());
    auto line = std::upper_bound(lines_.begin(), lines_.end(), start,
                                 [](std::uint64_t at, const Line& l) { return at < l.start; });
    if (line != lines_.begin())
        --line;
    auto cue = std::upper_bound(
        cues_.begin(), cues_.end(), start,
        [](std::uint64_t at, const ScriptIndex::Cue& c) { return at < c.start + c.length; });
    std::uint64_t at = start;
    while (at < end) {
        while (line != lines_.end() && line->end <= at)
            ++line;
        while (cue != cues_.end() && cue->start + cue->length <= at)
            ++cue;
        const bool inLine = line != lines_.end() && line->start <= at;
        const bool inCue = cue != cues_.end() && cue->start <= at;
        std::uint64_t next = end;
        if (line != lines_.end())
            next = std::min(next, inLine ? line->end : line->start);
        if (cue != cues_.end())
            next = std::min(next, inCue ? cue->start + cue->length : cue->start);
        qttext::TextRun run{at, next - at, {}, {}};
        if (inLine) {
            run.bold = true;
            run.scale = line->scale;
        }
        if (inCue)
            run.colour = cueColour_;
        visit(run);
        at = next;
    }
}

}  // namespace prompter
