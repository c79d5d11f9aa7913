// Container: where the application group containers live, and the import folder as the main
// application reads it.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/foundation/PlatformError.h"

namespace host {

// Where the application group containers live: QUORVANE_CONTAINER_ROOT, else
// $XDG_DATA_HOME/quorvane/app-groups, else $HOME/.local/share/quorvane/app-groups (relative
// XDG_DATA_HOME and HOME are ignored, as the base-directory convention says). None, with the
// reason, when none of these is set.
[[nodiscard]] std::optional<std::string> containerRoot(std::string* problem);

// The import folder of the extension's group under `root`.
[[nodiscard]] std::string importFolderPath(const std::string& root);

// The import folder's entries as full paths, in the folder's order, nothing filtered (hidden
// entries and subfolders included). A folder that does not exist yet (nothing was ever sent)
// has no entries; a folder that cannot be read gives the error, naming the path and the
// system's reason. Costs one pass over the folder, however many entries it holds.
[[nodiscard]] std::variant<std::vector<std::string>, platform::PlatformError> listImportFolder(
    const std::string& root);

}  // namespace host
