// StyledSpans: the text view's content as spans of one font and one foreground colour, which is
// all a front-end draws of it (and all the JSON outcome reports).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/foundation/AttributedText.h"
#include "platform/foundation/Font.h"
#include "platform/foundation/Range.h"
#include "platform/foundation/RgbaColor.h"

namespace host {

struct StyledSpan {
    platform::Range range;                            // bytes of the UTF-8 string
    const platform::Font* font = nullptr;             // none: the text has no font there
    const platform::RgbaColor* foreground = nullptr;  // none: the drawing chooses
};

// Walks the spans of `text` that overlap `within`, in order, clipped to it: a span ends
// wherever the font or the foreground colour changes. The pointers stay valid while `text`
// lives. Costs the logarithm of the runs to start, then one step per span.
class StyledSpans {
  public:
    explicit StyledSpans(const platform::AttributedText& text);

    void forEach(platform::Range within, const std::function<void(const StyledSpan&)>& visit) const;
    // The smallest point size of any font in the text (0 when it has none).
    [[nodiscard]] double smallestPointSize() const;

  private:
    const platform::AttributedText& text_;
    std::vector<platform::AttributeRun> fonts_;
    std::vector<platform::AttributeRun> colours_;
};

}  // namespace host
