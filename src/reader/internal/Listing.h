// Listing the import folder: which entries are texts (an upper-case UUID name, a regular file of
// this user, reached without links), in the order they landed, and why everything else is left
// alone.
#pragma once

#include <optional>
#include <string>

#include "reader/Inbox.h"

namespace reader::internal {

// What waits in the import folder `importFolder` under the container root `root`, and what was
// skipped; none, with the reason in `problem`, when the folder cannot be read or may not be used.
std::optional<Listing> listTexts(const std::string& root, const std::string& importFolder,
                                 Titles titles, std::string* problem);

}  // namespace reader::internal
