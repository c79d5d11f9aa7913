#include "handover/ContainerLocation.h"

#include <cstdlib>

#include "handover/ShareContract.h"

namespace handover {

std::optional<std::string> containerRoot(std::string* problem) {
    if (const char* root = std::getenv("QUORVANE_CONTAINER_ROOT"); root && *root)
        return std::string(root);
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/')
        return std::string(data) + "/quorvane/app-groups";
    if (const char* home = std::getenv("HOME"); home && *home == '/')
        return std::string(home) + "/.local/share/quorvane/app-groups";
    *problem = "cannot find a data folder: set QUORVANE_CONTAINER_ROOT, XDG_DATA_HOME or HOME";
    return std::nullopt;
}

std::string groupContainerPath(const std::string& root) {
    return root + "/" + kApplicationGroupIdentifier;
}

std::string importFolderPath(const std::string& root) {
    return groupContainerPath(root) + "/" + kImportFolderPath;
}

}  // namespace handover
