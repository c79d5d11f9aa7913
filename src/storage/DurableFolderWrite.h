// writeNewFileDurably: puts bytes into a folder as one new, complete, durable file, or nothing.
//
// The promise, which the main application relies on when it reads the folder:
// - a reader listing the folder never sees a partial file or a temporary entry: the file is
//   written and synced while it has no name (O_TMPFILE) or while it sits in a staging folder
//   beside the target, and only then gets its name;
// - the file and the folder are synced before success is reported;
// - an existing entry is never replaced: a name that is taken gets a new UUID;
// - folders and files made here are owner-only (0700 and 0600), whatever the umask; a folder
//   of the path that an earlier run or another program left with other modes is made 0700;
// - the path below `container` is walked by descriptors and never through a symbolic link, by
//   the hand-over's one walk (handover/FolderWalk.h) that every reader takes too: a folder of it
//   that is a link, not a folder, or another user's is refused with the reason, and nothing is
//   written or removed anywhere;
// - nothing that this write or an earlier one did not make is removed or changed: the staging
//   folder's sweep takes only unlocked regular files with its own staging names;
// - on failure nothing is left in the folder and the reason is returned.
// Every system call goes through SystemCalls, so tests can make any of them fail.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/PlatformError.h"

namespace quorvane {

struct DurableWriteResult {
    std::optional<std::string> name;               // the new entry's name, on success
    std::optional<platform::PlatformError> error;  // the reason, on failure
};

// How the unnamed file is made: O_TMPFILE where the file system offers it, else a staging
// folder. Tests force the staging path.
enum class StagingMode { automatic, stagingFolderOnly };

// Writes `bytes` as a new UUID-named file into `container`/`folder` (a relative path such as
// "regular/imported"), making missing folders. `container` must exist.
DurableWriteResult writeNewFileDurably(const std::string& container, const std::string& folder,
                                       std::string_view bytes,
                                       StagingMode mode = StagingMode::automatic);

}  // namespace quorvane
