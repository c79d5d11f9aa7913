// TextWrap: a text's lines as a terminal of a given width shows them.
#pragma once

#include <string_view>
#include <vector>

#include "platform/foundation/Range.h"

namespace host {

// The text's lines wrapped to `width` columns (cell widths as the terminal shows them): at the
// text's line breaks (CR LF counts once), and where a line is too long at its last space (which
// is dropped), or within a word longer than the line. No empty line is made after a final line
// break. Ranges are bytes of `text`.
[[nodiscard]] std::vector<platform::Range> wrapLines(std::string_view text, int width);

}  // namespace host
