// ShareContract: what the share extension and its hosts agree on, and nothing else.
//
// A host (the share sheet, the main application reading the import folder) knows the extension
// only through its bundle and these names: the application group and the folder where sent texts
// land, the error domain and codes a request can end with, and the classes the bundle registers.
// The extension defines its own types from these constants, so the two sides cannot drift apart.
#pragma once

#include <cstdint>
#include <string_view>

namespace handover {

// The application group the extension shares with the main application, and the import folder
// relative to that group's container.
inline constexpr const char* kApplicationGroupIdentifier = "group.app.quorvane.teleprompter";
inline constexpr const char* kImportFolderPath = "regular/imported";

// Whether `name` is a sent text's name in the import folder: an upper-case UUID, 8-4-4-4-12
// hexadecimal digits, no extension. Writers give texts exactly such names; readers take
// nothing else (staged names, sync tools' copies and the like carry more).
[[nodiscard]] constexpr bool isTextName(std::string_view name) {
    if (name.size() != 36)
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}
static_assert(isTextName("DAD5E5C1-6D0A-45C5-BF5A-A17800E7A647"));

// A request that was not completed ends with an error of this domain and one of these codes.
inline constexpr const char* kShareErrorDomain = "QuorvaneShareExt.ShareViewController.ShareError";
inline constexpr std::int64_t kShareErrorCancelled = 0;    // the person closed the sheet
inline constexpr std::int64_t kShareErrorWriteFailed = 1;  // the text could not be saved

// Classes the bundle registers, by module-qualified name.
inline constexpr const char* kShareViewControllerClass = "QuorvaneShareExt.ShareViewController";
inline constexpr const char* kColoredToggleClass = "QuorvaneShareExt.QuorvaneColoredToggle";
inline constexpr const char* kStickySliderClass = "QuorvaneShareExt.QuorvaneStickySlider";

}  // namespace handover
