// ClearParagraphStyle: whether a transform also removes every paragraph style.
#pragma once

namespace quorvane {

enum class ClearParagraphStyle { no, yes };

}  // namespace quorvane
