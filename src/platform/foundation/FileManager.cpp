#include "platform/foundation/FileManager.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/foundation/SystemCalls.h"

namespace platform {
namespace {

// Gives the folder just made at `path` exactly `mode`, whatever the umask.
bool setFolderMode(const std::string& path, mode_t mode, int* failure) {
    SystemCalls& calls = SystemCalls::current();
    const int fd =
        calls.openat(AT_FDCWD, path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0);
    if (fd < 0) {
        *failure = errno;
        return false;
    }
    bool set = calls.fchmod(fd, mode) == 0;
    if (!set) {
        *failure = errno;
        // Where the file system keeps no modes of its own (FAT, some FUSE file systems), the
        // mount decides them: such a folder serves while nobody else may write it.
        struct stat status {};
        if ((errno == ENOSYS || errno == EOPNOTSUPP || errno == EPERM) &&
            calls.fstatat(fd, "", &status, AT_EMPTY_PATH) == 0 && (status.st_mode & 022) == 0)
            set = true;
    }
    calls.close(fd);
    return set;
}

// Makes every missing folder of an absolute path with `mode`, masked by the umask unless
// `exactMode`. True when the path is a folder.
bool makeFolders(const std::string& path, mode_t mode, bool exactMode, int* failure) {
    SystemCalls& calls = SystemCalls::current();
    std::size_t next = 1;
    for (;;) {
        const std::size_t slash = path.find('/', next);
        const std::string prefix = path.substr(0, slash);
        if (!prefix.empty()) {
            if (calls.mkdirat(AT_FDCWD, prefix.c_str(), mode) == 0) {
                if (exactMode && !setFolderMode(prefix, mode, failure))
                    return false;
            } else if (errno != EEXIST) {
                *failure = errno;
                return false;
            }
        }
        if (slash == std::string::npos)
            break;
        next = slash + 1;
    }
    struct stat status {};
    if (calls.fstatat(AT_FDCWD, path.c_str(), &status, 0) != 0) {
        *failure = errno;
        return false;
    }
    if (!S_ISDIR(status.st_mode)) {
        *failure = ENOTDIR;
        return false;
    }
    return true;
}

// A container of this user that an earlier run left with other modes (made under umask 0277,
// say, and so closed to its owner) is made owner-only again. A failure here is left for the
// container's users to meet.
void repairOwnerOnly(const std::string& path) {
    SystemCalls& calls = SystemCalls::current();
    const int fd = calls.openat(AT_FDCWD, path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0)
        return;
    struct stat status {};
    if (calls.fstatat(fd, "", &status, AT_EMPTY_PATH) == 0 && status.st_uid == ::geteuid() &&
        (status.st_mode & 07777) != 0700)
        (void)calls.fchmod(fd, 0700);
    calls.close(fd);
}

}  // namespace

FileManager& FileManager::defaultManager() {
    static FileManager manager;
    return manager;
}

void FileManager::setContainerRoot(std::string path) {
    std::lock_guard lock(mutex_);
    containerRoot_ = std::move(path);
}

void FileManager::setReachableGroups(std::vector<std::string> groups) {
    std::lock_guard lock(mutex_);
    reachableGroups_ = std::move(groups);
}

std::string FileManager::containerRoot() const {
    std::lock_guard lock(mutex_);
    return containerRoot_;
}

std::optional<URL> FileManager::containerURLForSecurityApplicationGroupIdentifier(
    const std::string& group) const {
    if (containerProblem(group))
        return std::nullopt;
    return URL::fileURLWithPath(containerRoot()).appendingPathComponent(group);
}

std::optional<PlatformError> FileManager::containerProblem(const std::string& group) const {
    std::string root;
    {
        std::lock_guard lock(mutex_);
        if (containerRoot_.empty())
            return PlatformError::posix(ENOENT, "no folder for application group containers");
        if (group.empty() || group.find('/') != std::string::npos || group == "." ||
            group == "..") {
            return PlatformError::posix(EINVAL, "'" + group + "' is not an application group");
        }
        if (std::find(reachableGroups_.begin(), reachableGroups_.end(), group) ==
            reachableGroups_.end()) {
            // As on the device: a group the process is not entitled to has no container.
            return PlatformError::posix(
                ENOENT, "no container of application group " + group + " for this process");
        }
        root = containerRoot_;
    }
    const URL container = URL::fileURLWithPath(root).appendingPathComponent(group);
    int failure = 0;
    // Containers are the owner's alone, as the platform makes them, whatever the umask.
    if (!makeFolders(container.path(), 0700, true, &failure))
        return PlatformError::posix(failure, "the container " + container.path());
    repairOwnerOnly(container.path());
    return std::nullopt;
}

void FileManager::noteCreatedItem(const URL& url) {
    std::lock_guard lock(mutex_);
    createdItems_.push_back(url);
}

std::vector<URL> FileManager::createdItems() const {
    std::lock_guard lock(mutex_);
    return createdItems_;
}

bool FileManager::createDirectoryAtURL(const URL& url, bool withIntermediateDirectories,
                                       PlatformError* error) const {
    int failure = 0;
    if (withIntermediateDirectories) {
        if (makeFolders(url.path(), 0777, false, &failure))
            return true;
    } else if (SystemCalls::current().mkdirat(AT_FDCWD, url.path().c_str(), 0777) == 0) {
        return true;
    } else {
        failure = errno;
    }
    if (error)
        *error = PlatformError::posix(failure, "creating folder " + url.path());
    return false;
}

bool FileManager::createFileAtPath(const std::string& path,
                                   std::optional<std::string_view> contents) const {
    SystemCalls& calls = SystemCalls::current();
    const int fd =
        calls.openat(AT_FDCWD, path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    std::string_view remaining = contents.value_or(std::string_view());
    bool ok = true;
    while (!remaining.empty()) {
        const ssize_t written = calls.write(fd, remaining.data(), remaining.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            ok = false;
            break;
        }
        remaining.remove_prefix(static_cast<std::size_t>(written));
    }
    return calls.close(fd) == 0 && ok;
}

std::optional<std::vector<std::string>> FileManager::contentsOfDirectoryAtPath(
    const std::string& path, PlatformError* error) const {
    SystemCalls& calls = SystemCalls::current();
    const int fd = calls.openat(AT_FDCWD, path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    std::vector<std::string> names;
    if (fd < 0 || calls.listDirectory(
                      fd,
                      [](const char* name, void* context) {
                          static_cast<std::vector<std::string>*>(context)->push_back(name);
                      },
                      &names) != 0) {
        if (error)
            *error = PlatformError::posix(errno, "listing " + path);
        return std::nullopt;
    }
    return names;
}

}  // namespace platform
