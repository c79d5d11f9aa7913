#include "host/session/Container.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "contract/ShareContract.h"

namespace host {

std::variant<std::vector<std::string>, platform::PlatformError> listImportFolder(
    const std::string& root) {
    const std::string folder = importFolderPath(root);
    const auto failure = [&](int error) {
        return platform::PlatformError::posix(error, "cannot list the import folder " + folder);
    };
    // The group's container may be a link (the platform keeps it where it likes); below it, as
    // the extension writes, a link is never followed: a planted one is refused, not listed.
    int fd = ::open(contract::groupContainerPath(root).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const std::string_view path = contract::kImportFolderPath;
    std::string through = contract::groupContainerPath(root);
    for (std::size_t start = 0; fd >= 0 && start < path.size();) {
        const std::size_t slash = std::min(path.find('/', start), path.size());
        const std::string name(path.substr(start, slash - start));
        through += "/" + name;
        const int next =
            ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int error = errno;
        ::close(fd);
        fd = next;
        errno = error;
        start = slash + 1;
    }
    if (fd < 0) {
        if (errno == ENOENT)
            return std::vector<std::string>{};  // nothing sent yet
        struct stat entry {};
        if ((errno == ELOOP || errno == ENOTDIR) && ::lstat(through.c_str(), &entry) == 0 &&
            S_ISLNK(entry.st_mode)) {
            platform::PlatformError error = failure(ELOOP);
            error.userInfo[platform::PlatformError::kLocalizedDescriptionKey] =
                "cannot list the import folder " + folder + ": " + through +
                " is a symbolic link, which is never followed";
            return error;
        }
        return failure(errno);
    }
    DIR* directory = ::fdopendir(fd);
    if (!directory) {
        const int error = errno;
        ::close(fd);
        return failure(error);
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
        return failure(error);
    return paths;
}

}  // namespace host
