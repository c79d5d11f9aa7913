// The moves of a text into a delivery folder that are not renames of its name: the held file
// linked by its descriptor, or copied (on another file system, or where the folder takes no
// links) into a file that gets its name only when it is whole, never replacing anything there.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <optional>
#include <string>

#include "reader/internal/Files.h"
#include "reader/internal/Holding.h"

namespace reader::internal {

// How much of a text is read (and compared) at a time.
constexpr std::size_t kCopyChunk = 256 * 1024;

// Links the open file `fd` as `name` in `folder`. 0, or -1 with errno.
int linkDescriptor(int fd, int folder, const std::string& name);

// Copies the held text into a new file in `folder` that has no name yet (or, where the file
// system has no unnamed files, a hidden partial name), written and, when `sync`, synced. The
// copy keeps the text's modification time and is owner-only.
struct Copy {
    Fd fd;
    std::string partial;  // the hidden name, when it has one
};
std::optional<Copy> copyInto(const Hold& text, int folder, const std::string& folderPath,
                             const std::string& id, bool sync, std::string* problem);

// Whether a link that failed with `error` says the folder has no links at all (FAT, exFAT).
bool linksRefused(int error);

// `name` as folders without links (FAT, exFAT, SMB) take it: the characters they refuse in a
// name (\ : * ? " < > |) become "-".
std::string portableName(std::string name);

// Gives the file `from` in `folder` the name `to`, never replacing anything there. Where the
// file system cannot rename without replacing (`noReplace` is then cleared for the next time),
// `to` is first made as an empty file of ours, which fails when anything is there, and then
// replaced. 0, or -1 with errno (EEXIST: the name is taken).
int renameNoReplace(int folder, const std::string& from, const std::string& to, bool* noReplace);

// Whether `name` in `folder` (looked at as `status`) holds the same bytes as the held text.
// Where a file system keeps no lasting inode numbers (FAT gives them out afresh as files are
// looked up), a recorded file is known by its bytes.
bool sameBytes(int folder, const std::string& name, const struct ::stat& status, const Hold& held);

}  // namespace reader::internal
