#include "host/session/Container.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "contract/ShareContract.h"

namespace host {

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

std::string importFolderPath(const std::string& root) {
    return root + "/" + contract::kApplicationGroupIdentifier + "/" + contract::kImportFolderPath;
}

std::variant<std::vector<std::string>, platform::PlatformError> listImportFolder(
    const std::string& root) {
    const std::string folder = importFolderPath(root);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return std::vector<std::string>{};  // nothing sent yet
        return platform::PlatformError::posix(errno, "cannot list the import folder " + folder);
    }
    DIR* directory = ::fdopendir(fd);
    if (!directory) {
        const int error = errno;
        ::close(fd);
        return platform::PlatformError::posix(error, "cannot list the import folder " + folder);
    }
    std::vector<std::string> paths;
    errno = 0;
    while (const dirent* entry = ::readdir(directory)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") {
            std::string path;
            path.reserve(folder.size() + 1 + name.size());
            path.append(folder).append("/").append(name);
            paths.push_back(std::move(path));
        }
        errno = 0;
    }
    const int error = errno;
    ::closedir(directory);
    if (error)
        return platform::PlatformError::posix(error, "cannot list the import folder " + folder);
    return paths;
}

}  // namespace host
