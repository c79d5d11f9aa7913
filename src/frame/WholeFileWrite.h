// WholeFileWrite: a file a program makes for the person (a picture, its settings, a script) put
// in place whole or not at all.
//
// The bytes go to a new file beside the path (created exclusively, never through a link),
// every write and the close are checked, the file is synced, then renamed over the path: a
// reader sees the old file or the new one, never half of one, and a link at the path is
// replaced, never followed. Nothing is left behind on failure. Callers that take a path from a
// person ask pathProblem() first, so that a link, FIFO, device or folder there is refused before
// anything is done.
#pragma once

#include <sys/types.h>
#include <string>
#include <string_view>

namespace frame {

// Why a file of kind `mode` (st_mode) is not a regular file one may write over or read whole:
// "it is a symbolic link, which is never followed", "it is a FIFO", "it is a device", "it is a
// folder", "it is not a regular file"; empty for a regular file.
[[nodiscard]] std::string fileKindProblem(mode_t mode);

// Why nothing may be written at `path`: a link, a FIFO, a device, a folder, or a name that
// cannot be looked at (the system's reason). Empty when the path is free or a regular file.
[[nodiscard]] std::string pathProblem(const std::string& path);

// Puts `bytes` at `path` (see above), with `mode` (less the umask) for the new file. Empty on
// success, else why.
[[nodiscard]] std::string writeFileWhole(const std::string& path, std::string_view bytes,
                                         unsigned mode = 0666);

}  // namespace frame
