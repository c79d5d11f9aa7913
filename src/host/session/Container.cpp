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
    // The folder of containers may be a link (it is the person's own setting); from the
    // group's container down, as the extension writes, a link is never followed and only this
    // user's folders are read: a planted link or another user's folder is refused, not listed.
    const auto refused = [&](int code, const std::string& entry, const std::string& why) {
        platform::PlatformError error = failure(code);
        error.userInfo[platform::PlatformError::kLocalizedDescriptionKey] =
            "cannot list the import folder " + folder + ": " + entry + why;
        return error;
    };
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const std::string path =
        std::string(contract::kApplicationGroupIdentifier) + "/" + contract::kImportFolderPath;
    std::string through = root;
    for (std::size_t start = 0; fd >= 0 && start < path.size();) {
        const std::size_t slash = std::min(path.find('/', start), path.size());
        const std::string name = path.substr(start, slash - start);
        through += "/" + name;
        const int next =
            ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int error = errno;
        struct stat entry {};
        if (next < 0 && (error == ELOOP || error == ENOTDIR) &&
            ::fstatat(fd, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0) {
            ::close(fd);
            if (S_ISLNK(entry.st_mode))
                return refused(ELOOP, through, " is a symbolic link, which is never followed");
            return refused(ENOTDIR, through, " is not a folder");
        }
        ::close(fd);
        if (next >= 0 && ::fstat(next, &entry) != 0) {
            const int statError = errno;
            ::close(next);
            return failure(statError);
        }
        if (next >= 0 && entry.st_uid != ::geteuid()) {
            ::close(next);
            return refused(EPERM, through,
                           " belongs to another user (uid " + std::to_string(entry.st_uid) +
                               "), so it is not listed");
        }
        fd = next;
        errno = error;
        start = slash + 1;
    }
    if (fd < 0) {
        if (errno == ENOENT)
            return std::vector<std::string>{};  // nothing sent yet
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
