// ContainerLocation: where the application group containers live on this machine, as every
// program on either side of the hand-over finds them.
//
// The share sheet (which writes the import folder) and the readers of that folder (the
// receiver, the teleprompter) must reach the same container, so they find it through this one
// rule and nothing else.
#pragma once

#include <optional>
#include <string>

namespace handover {

// Where the application group containers live: QUORVANE_CONTAINER_ROOT, else
// $XDG_DATA_HOME/quorvane/app-groups, else $HOME/.local/share/quorvane/app-groups (relative
// XDG_DATA_HOME and HOME are ignored, as the base-directory convention says). None, with the
// reason in `problem`, when none of these is set.
[[nodiscard]] std::optional<std::string> containerRoot(std::string* problem);

// The group's container under `root`: root + "/" + the application group identifier.
[[nodiscard]] std::string groupContainerPath(const std::string& root);

// The import folder of the extension's group under `root`.
[[nodiscard]] std::string importFolderPath(const std::string& root);

}  // namespace handover
