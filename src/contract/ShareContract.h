// ShareContract: what the share extension and its hosts agree on, and nothing else.
//
// A host (the share sheet, the main application reading the import folder) knows the extension
// only through its bundle and these names: the application group and the folder where sent texts
// land, the error domain and codes a request can end with, and the classes the bundle registers.
// The extension defines its own types from these constants, so the two sides cannot drift apart.
#pragma once

#include <cstdint>

namespace contract {

// The application group the extension shares with the main application, and the import folder
// relative to that group's container.
inline constexpr const char* kApplicationGroupIdentifier = "group.app.quorvane.teleprompter";
inline constexpr const char* kImportFolderPath = "regular/imported";

// A request that was not completed ends with an error of this domain and one of these codes.
inline constexpr const char* kShareErrorDomain = "QuorvaneShareExt.ShareViewController.ShareError";
inline constexpr std::int64_t kShareErrorCancelled = 0;    // the person closed the sheet
inline constexpr std::int64_t kShareErrorWriteFailed = 1;  // the text could not be saved

// Classes the bundle registers, by module-qualified name.
inline constexpr const char* kShareViewControllerClass = "QuorvaneShareExt.ShareViewController";
inline constexpr const char* kColoredToggleClass = "QuorvaneShareExt.QuorvaneColoredToggle";
inline constexpr const char* kStickySliderClass = "QuorvaneShareExt.QuorvaneStickySlider";

}  // namespace contract
