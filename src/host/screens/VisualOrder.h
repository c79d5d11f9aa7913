// VisualOrder: one line of text in the order a reader sees it, for a terminal that draws
// characters left to right as they come.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace host {

// A cluster of the line (its bytes in the line), and what to draw for it: its own bytes, or its
// mirrored form (a bracket in a right-to-left run faces the other way).
struct VisualCluster {
    std::size_t start = 0, size = 0;
    std::u32string mirrored;  // empty: draw the bytes as they are
    friend bool operator==(const VisualCluster&, const VisualCluster&) = default;
};

// The clusters of `line` (UTF-8, no line break) from left to right as the Unicode
// bidirectional algorithm (GNU FriBidi) orders them; the line's direction is that of its first
// strong character. `rightToLeft` (when given) tells whether it is right to left. Bidirectional
// controls do not act: the screen shows them by name. A line with no right-to-left character
// comes back in stored order.
//   visualOrder("abc") == clusters "a", "b", "c"
//   visualOrder("\u05D0\u05D1 (x)") == ")x(", " ", "\u05D1", "\u05D0" in clusters, mirrored
[[nodiscard]] std::vector<VisualCluster> visualOrder(std::string_view line,
                                                     bool* rightToLeft = nullptr);

}  // namespace host
