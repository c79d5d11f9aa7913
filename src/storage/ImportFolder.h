// The import folder: where sent texts wait for the main teleprompter application.
//
// Contract with the main application, which reads the folder:
// - the folder is "regular/imported" in the container of the application group
//   kApplicationGroupIdentifier;
// - each sent text is one file named by a fresh upper-case UUID (36 characters, no extension),
//   holding exactly the text's UTF-8 bytes: no byte-order mark, no header, no added line end;
// - a file appears complete and durable, or not at all; this side never rewrites, moves or
//   removes one.
#pragma once

#include <optional>
#include <vector>

#include "handover/ShareContract.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/PlatformError.h"
#include "platform/foundation/String.h"
#include "platform/foundation/URL.h"

namespace quorvane {

// The application group the extension shares with the main application.
inline constexpr const char* kApplicationGroupIdentifier = handover::kApplicationGroupIdentifier;
// The import folder, relative to the group's container.
inline constexpr const char* kImportFolderPath = handover::kImportFolderPath;

// importFolderURL: the import folder's URL, or none when the container is unavailable. It
// neither makes the folder nor checks that it exists.
[[nodiscard]] std::optional<platform::URL> importFolderURL(
    const platform::FileManager& fileManager);

// sharedFileList: one URL per entry of the import folder, in the directory's order, nothing
// filtered (hidden entries and subfolders included); empty when there is no container or the
// folder cannot be listed (for instance before the first send).
[[nodiscard]] std::vector<platform::URL> sharedFileList(const platform::FileManager& fileManager);

// The outcome of one write: the new file, or why there is none.
struct WriteResult {
    std::optional<platform::URL> file;
    std::optional<platform::PlatformError> error;

    [[nodiscard]] bool succeeded() const { return file.has_value(); }
};

// writeCapturedText: writes `capturedText` as a new file into the import folder of the
// default file manager's container, making the folders when missing. On failure (no container;
// a folder or the file could not be made, written or synced) nothing is left in the folder
// and the reason is returned. Runs on any thread; the text is not touched by anyone else.
[[nodiscard]] WriteResult writeCapturedText(const platform::String& capturedText);

}  // namespace quorvane
