#include "host/session/StyledSpans.h"

#include <algorithm>
#include <limits>

#include "platform/foundation/TextAttributeKey.h"

namespace host {
namespace {

using platform::AttributeRun;

// The run holding `position`; runs cover the text in order.
std::size_t runAt(const std::vector<AttributeRun>& runs, std::uint64_t position) {
    const auto it = std::upper_bound(
        runs.begin(), runs.end(), position,
        [](std::uint64_t value, const AttributeRun& run) { return value < run.range.location; });
    return it == runs.begin() ? 0 : static_cast<std::size_t>(it - runs.begin() - 1);
}

}  // namespace

StyledSpans::StyledSpans(const platform::AttributedText& text)
    : text_(text),
      fonts_(text.runs(platform::NSFontAttributeName)),
      colours_(text.runs(platform::NSForegroundColorAttributeName)) {}

void StyledSpans::forEach(platform::Range within,
                          const std::function<void(const StyledSpan&)>& visit) const {
    const std::uint64_t end = std::min<std::uint64_t>(within.end(), text_.length());
    std::uint64_t position = within.location;
    std::size_t f = fonts_.empty() ? 0 : runAt(fonts_, position);
    std::size_t c = colours_.empty() ? 0 : runAt(colours_, position);
    while (position < end) {
        StyledSpan span;
        std::uint64_t spanEnd = end;
        while (f < fonts_.size() && fonts_[f].range.end() <= position)
            ++f;
        while (c < colours_.size() && colours_[c].range.end() <= position)
            ++c;
        if (f < fonts_.size()) {
            span.font = fonts_[f].value ? fonts_[f].value->font() : nullptr;
            spanEnd = std::min(spanEnd, fonts_[f].range.end());
        }
        if (c < colours_.size()) {
            span.foreground = colours_[c].value ? colours_[c].value->color() : nullptr;
            spanEnd = std::min(spanEnd, colours_[c].range.end());
        }
        span.range = {position, spanEnd - position};
        visit(span);
        position = spanEnd;
    }
}

double StyledSpans::smallestPointSize() const {
    double smallest = std::numeric_limits<double>::infinity();
    for (const AttributeRun& run : fonts_) {
        if (const platform::Font* font = run.value ? run.value->font() : nullptr)
            smallest = std::min(smallest, font->pointSize());
    }
    return smallest == std::numeric_limits<double>::infinity() ? 0 : smallest;
}

}  // namespace host
