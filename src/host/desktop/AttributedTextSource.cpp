#include "host/desktop/AttributedTextSource.h"

#include "host/desktop/QtColours.h"

namespace host::desktop {

AttributedTextSource::AttributedTextSource(platform::AttributedText text)
    : text_(std::move(text)), spans_(text_) {}

std::uint64_t AttributedTextSource::length() const {
    return text_.length();
}

void AttributedTextSource::forEachPiece(const std::function<void(std::string_view)>& visit) const {
    text_.forEachPiece(visit);
}

std::string AttributedTextSource::substring(std::uint64_t start, std::uint64_t length) const {
    if (start >= text_.length())
        return {};
    return text_.substring({start, std::min(length, text_.length() - start)});
}

void AttributedTextSource::forEachRun(
    std::uint64_t start, std::uint64_t length,
    const std::function<void(const qttext::TextRun&)>& visit) const {
    spans_.forEach({start, length}, [&](const StyledSpan& span) {
        qttext::TextRun run{span.range.location, span.range.length, {}, {}};
        if (span.font)
            run.font = qtFont(*span.font);
        if (span.foreground)
            run.colour = qtColour(*span.foreground);
        visit(run);
    });
}

const void* AttributedTextSource::characterIdentity() const {
    return text_.characterStorage();
}

std::shared_ptr<const qttext::TextSource> attributedTextSource(
    const platform::AttributedText& text) {
    return std::make_shared<AttributedTextSource>(text);
}

}  // namespace host::desktop
