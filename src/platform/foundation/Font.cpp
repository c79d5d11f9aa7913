#include "platform/foundation/Font.h"

#include <array>

#include "platform/foundation/Application.h"

namespace platform {
namespace {

struct CategoryRow {
    std::string_view name;
    double body;        // points
    double largeTitle;  // points
};

constexpr std::array<CategoryRow, kContentSizeCategoryCount> kDynamicTypeTable{{
    {"xSmall", 14, 31},
    {"Small", 15, 32},
    {"Medium", 16, 33},
    {"Large", 17, 34},
    {"xLarge", 19, 36},
    {"xxLarge", 21, 38},
    {"xxxLarge", 23, 40},
    {"AX1", 28, 44},
    {"AX2", 33, 48},
    {"AX3", 40, 52},
    {"AX4", 47, 56},
    {"AX5", 53, 60},
}};

const CategoryRow& rowFor(ContentSizeCategory category) {
    return kDynamicTypeTable.at(static_cast<std::size_t>(category));
}

}  // namespace

std::string_view contentSizeCategoryName(ContentSizeCategory category) {
    return rowFor(category).name;
}

std::optional<ContentSizeCategory> contentSizeCategoryNamed(std::string_view name) {
    for (std::size_t i = 0; i < kDynamicTypeTable.size(); ++i) {
        if (kDynamicTypeTable[i].name == name)
            return static_cast<ContentSizeCategory>(i);
    }
    return std::nullopt;
}

double Font::pointSizeForTextStyle(TextStyle style, ContentSizeCategory category) {
    const CategoryRow& row = rowFor(category);
    return style == TextStyle::body ? row.body : row.largeTitle;
}

Font Font::preferredFontForTextStyle(TextStyle style, ContentSizeCategory category) {
    return {kSystemFace, FontWeight::regular, pointSizeForTextStyle(style, category)};
}

Font Font::preferredFontForTextStyle(TextStyle style) {
    return preferredFontForTextStyle(style, Application::preferredContentSizeCategory());
}

}  // namespace platform
