// ScriptSource: a script's characters as the prompting view draws them: the title line bold,
// section headings bold and larger, cues in the cue colour, everything else in the view's own
// font and colour. The styling comes from the script's index; the characters are shared with
// the plain script, never copied.
#pragma once

#include <QColor>
#include <memory>
#include <vector>

#include "prompter/ScriptIndex.h"
#include "qttext/TextBlocks.h"
#include "qttext/TextSource.h"

namespace prompter {

class ScriptSource : public qttext::TextSource {
  public:
    static constexpr double kHeadingScale = 1.2;

    ScriptSource(std::shared_ptr<const qttext::TextSource> text, const ScriptIndex& index,
                 const std::vector<qttext::TextBlocks::Block>& blocks, QColor cueColour);

    [[nodiscard]] std::uint64_t length() const override { return text_->length(); }
    void forEachPiece(const std::function<void(std::string_view)>& visit) const override {
        text_->forEachPiece(visit);
    }
    [[nodiscard]] std::string substring(std::uint64_t start, std::uint64_t length) const override {
        return text_->substring(start, length);
    }
    void forEachRun(std::uint64_t start, std::uint64_t length,
                    const std::function<void(const qttext::TextRun&)>& visit) const override;
    [[nodiscard]] const void* characterIdentity() const override {
        return text_->characterIdentity();
    }

  private:
    struct Line {
        std::uint64_t start;
        std::uint64_t end;
        double scale;
    };

    std::shared_ptr<const qttext::TextSource> text_;
    std::vector<Line> lines_;  // the title and the headings, in order
    std::vector<ScriptIndex::Cue> cues_;
    QColor cueColour_;
};

}  // namespace prompter
