#include "host/session/Container.h"

#include "handover/FolderWalk.h"
#include "handover/ShareContract.h"

namespace host {

std::variant<std::vector<std::string>, platform::PlatformError> listImportFolder(
    const std::string& root) {
    const std::string folder = importFolderPath(root);
    const auto failure = [&](int error) {
        return platform::PlatformError::posix(error, "cannot list the import folder " + folder);
    };
    // The folder of containers may be a link (it is the person's own setting); from the
    // group's container down, as the extension writes, a link is never followed and only this
    // user's folders are read: a planted link or another user's folder is refused, not listed.
    handover::SystemCalls& calls = handover::SystemCalls::direct();
    handover::WalkFailure walkFailure;
    handover::WalkedFolder walked = handover::FolderWalk(calls).down(
        handover::groupContainerPath(root), handover::kImportFolderPath, handover::Missing::report,
        &walkFailure);
    if (!walked.folder) {
        if (walkFailure.kind == handover::WalkFailure::Kind::missing)
            return std::vector<std::string>{};  // nothing sent yet
        platform::PlatformError error = failure(walkFailure.error);
        if (walkFailure.refused()) {
            error.userInfo[platform::PlatformError::kLocalizedDescriptionKey] =
                "cannot list the import folder " + folder + ": " + walkFailure.sentence("listed");
        }
        return error;
    }
    struct Listing {
        const std::string& folder;
        std::vector<std::string> paths;
    } listing{folder, {}};
    const auto add = [](const char* name, void* context) {
        auto* into = static_cast<Listing*>(context);
        std::string path;
        path.reserve(into->folder.size() + 1 + std::char_traits<char>::length(name));
        path.append(into->folder).append("/").append(name);
        into->paths.push_back(std::move(path));
    };
    if (calls.listDirectory(walked.folder.release(), add, &listing) != 0)
        return failure(errno);
    return std::move(listing.paths);
}

}  // namespace host
