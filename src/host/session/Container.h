// Container: the import folder as the main application reads it.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "handover/ContainerLocation.h"
#include "platform/foundation/PlatformError.h"

namespace host {

// Where the containers live and the import folder's path: one rule for every program.
using handover::containerRoot;
using handover::importFolderPath;

// The import folder's entries as full paths, in the folder's order, nothing filtered (hidden
// entries and subfolders included). A folder that does not exist yet (nothing was ever sent)
// has no entries; a folder that cannot be read gives the error, naming the path and the
// system's reason. From the group's container down nothing is reached through a link and only
// this user's folders are read: a link, a non-folder or another user's folder on the way is
// an error naming it. Costs one pass over the folder, however many entries it holds.
[[nodiscard]] std::variant<std::vector<std::string>, platform::PlatformError> listImportFolder(
    const std::string& root);

}  // namespace host
