#include "storage/ImportFolder.h"

#include <cerrno>

#include "storage/DurableFolderWrite.h"

namespace quorvane {

std::optional<platform::URL> importFolderURL(const platform::FileManager& fileManager) {
    const auto container =
        fileManager.containerURLForSecurityApplicationGroupIdentifier(kApplicationGroupIdentifier);
    if (!container)
        return std::nullopt;
    return container->appendingPathComponent(kImportFolderPath);
}

std::vector<platform::URL> sharedFileList(const platform::FileManager& fileManager) {
    const auto folder = importFolderURL(fileManager);
    if (!folder)
        return {};
    const auto names =
        platform::FileManager::defaultManager().contentsOfDirectoryAtPath(folder->path(), nullptr);
    if (!names)
        return {};
    std::vector<platform::URL> urls;
    urls.reserve(names->size());
    for (const std::string& name : *names)
        urls.push_back(folder->appendingPathComponent(name));
    return urls;
}

WriteResult writeCapturedText(const platform::String& capturedText) {
    platform::FileManager& fileManager = platform::FileManager::defaultManager();
    const auto container =
        fileManager.containerURLForSecurityApplicationGroupIdentifier(kApplicationGroupIdentifier);
    if (!container) {
        // The platform says why when it can (the path and the system's reason).
        if (auto problem = fileManager.containerProblem(kApplicationGroupIdentifier))
            return {std::nullopt, std::move(*problem)};
        platform::PlatformError error;
        error.domain = platform::PlatformError::kPosixDomain;
        error.code = ENOENT;
        error.userInfo[platform::PlatformError::kLocalizedDescriptionKey] =
            std::string("the container of application group ") + kApplicationGroupIdentifier +
            " is not available";
        return {std::nullopt, error};
    }
    // The text is already UTF-8: its bytes are written as they are.
    DurableWriteResult written =
        writeNewFileDurably(container->path(), kImportFolderPath, capturedText.view());
    if (!written.name)
        return {std::nullopt, written.error};
    const platform::URL file =
        container->appendingPathComponent(kImportFolderPath).appendingPathComponent(*written.name);
    fileManager.noteCreatedItem(file);
    return {file, std::nullopt};
}

}  // namespace quorvane
