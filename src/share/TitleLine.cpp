#include "share/TitleLine.h"

#include "handover/TextTitle.h"

namespace quorvane {

// The hand-over's title rule, so the sheet shows the title every reader of the import folder
// lists the text by; the sheet keeps the line break that ends the title, as its bold first line.
platform::String titleLine(const platform::String& text) {
    const handover::TitleBounds bounds = handover::titleBounds(text.view());
    return text.substr(bounds.start, bounds.lineEnd - bounds.start);
}

}  // namespace quorvane
