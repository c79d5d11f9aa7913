// The reader's way down the container to the import folder and the records folder beside it:
// the hand-over's one walk (handover::FolderWalk: each folder opened by a descriptor from its
// parent, never through a link, used only when it is this user's), with the reader's words for
// what stopped it, and one refusal of its own: an import folder on a file system that keeps no
// owners at all.
#pragma once

#include <string>

#include "reader/internal/Files.h"

namespace reader::internal {

// The records folder of deliveries under way, beside the import folder in "regular".
constexpr const char* kClaimsFolder = ".imported-claims";

// The folders of the hand-over, opened by descriptors along the path without following links.
struct Folders {
    Fd regular;
    Fd imported;
    bool missing = false;  // the container, "regular" or "imported" does not exist (yet)
};

// Opens `name` in `parent` as a folder of this user, never through a link. Empty with
// `missing` set when it does not exist; empty with `problem` set when it may not be used.
Fd openOwnFolder(int parent, const char* name, const std::string& shown, bool* missing,
                 std::string* problem);

// The file system of `fd` when it keeps no owners or modes of its own (every file shows the
// mounting user and one mode), in words ("a FAT file system"); empty for any other.
std::string ownerlessFileSystem(int fd);

Folders openFolders(const std::string& root, std::string* problem);

// The folder of delivery records beside the import folder, made owner-only when missing.
Fd openClaims(int regular, const std::string& shown, std::string* problem);

}  // namespace reader::internal
