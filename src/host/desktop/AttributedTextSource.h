// AttributedTextSource: the extension's attributed text as the lazy text view reads it, its
// spans' fonts and colours turned into Qt's. A run without a colour stays without one, so the
// view draws it in the palette's text colour.
#pragma once

#include <memory>
#include <optional>

#include "host/session/StyledSpans.h"
#include "platform/foundation/AttributedText.h"
#include "qttext/TextSource.h"

namespace host::desktop {

class AttributedTextSource : public qttext::TextSource {
  public:
    explicit AttributedTextSource(platform::AttributedText text);

    [[nodiscard]] std::uint64_t length() const override;
    void forEachPiece(const std::function<void(std::string_view)>& visit) const override;
    [[nodiscard]] std::string substring(std::uint64_t start, std::uint64_t length) const override;
    void forEachRun(std::uint64_t start, std::uint64_t length,
                    const std::function<void(const qttext::TextRun&)>& visit) const override;
    [[nodiscard]] const void* characterIdentity() const override;

  private:
    platform::AttributedText text_;
    StyledSpans spans_;  // of text_
};

// Shorthand for handing `text` to a lazy text view.
[[nodiscard]] std::shared_ptr<const qttext::TextSource> attributedTextSource(
    const platform::AttributedText& text);

}  // namespace host::desktop
