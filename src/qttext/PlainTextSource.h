// PlainTextSource: UTF-8 characters with no styling of their own, drawn in the view's default
// font and colour.
#pragma once

#include <memory>
#include <string>

#include "qttext/TextSource.h"

namespace qttext {

class PlainTextSource : public TextSource {
  public:
    explicit PlainTextSource(std::string text)
        : text_(std::make_shared<const std::string>(std::move(text))) {}
    explicit PlainTextSource(std::shared_ptr<const std::string> text) : text_(std::move(text)) {}

    [[nodiscard]] const std::string& text() const { return *text_; }

    [[nodiscard]] std::uint64_t length() const override { return text_->size(); }
    void forEachPiece(const std::function<void(std::string_view)>& visit) const override {
        visit(*text_);
    }
    [[nodiscard]] std::string substring(std::uint64_t start, std::uint64_t length) const override {
        if (start >= text_->size())
            return {};
        return text_->substr(start, length);
    }
    void forEachRun(std::uint64_t start, std::uint64_t length,
                    const std::function<void(const TextRun&)>& visit) const override {
        if (start < text_->size() && length > 0)
            visit({start, std::min<std::uint64_t>(length, text_->size() - start), {}, {}});
    }
    [[nodiscard]] const void* characterIdentity() const override { return text_.get(); }

  private:
    std::shared_ptr<const std::string> text_;
};

}  // namespace qttext
