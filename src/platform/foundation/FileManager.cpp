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

// A refusal that names the entry and says why, in words of its own.
PlatformError refusal(int code, const std::string& description) {
    PlatformError error = PlatformError::posix(code, description);
    error.userInfo[PlatformError::kLocalizedDescriptionKey] = description;
    return error;
}

// Opens (making it when missing) the group's container `group` inside the folder of
// containers `root`. The root may be a link (it is the person's own setting); the container
// is never reached through one, and is used only when it is a folder of this user: anyone who
// can write the root could otherwise plant a link to another of this user's folders, whose
// modes a send would then change. A container made here, or one of this user that an earlier
// run left with other modes (made under umask 0277, say), is made owner-only.
std::optional<PlatformError> openOwnContainer(const std::string& root, const std::string& group) {
    SystemCalls& calls = SystemCalls::current();
    const std::string path = root + "/" + group;
    const int parent = calls.openat(AT_FDCWD, root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (parent < 0)
        return PlatformError::posix(errno, "the container " + path);
    bool made = false;
    if (calls.mkdirat(parent, group.c_str(), 0700) == 0) {
        made = true;
    } else if (errno != EEXIST) {
        const int failure = errno;
        calls.close(parent);
        return PlatformError::posix(failure, "the container " + path);
    }
    const int fd =
        calls.openat(parent, group.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0);
    if (fd < 0) {
        const int failure = errno;
        struct stat entry {};
        const bool looked = calls.fstatat(parent, group.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0;
        calls.close(parent);
        if (looked && S_ISLNK(entry.st_mode))
            return refusal(
                ELOOP, "the container " + path + " is a symbolic link, which is never followed");
        if (looked && !S_ISDIR(entry.st_mode))
            return refusal(ENOTDIR, "the container " + path + " is not a folder");
        return PlatformError::posix(failure, "the container " + path);
    }
    calls.close(parent);
    std::optional<PlatformError> problem;
    struct stat status {};
    if (calls.fstatat(fd, "", &status, AT_EMPTY_PATH) != 0) {
        problem = PlatformError::posix(errno, "the container " + path);
    } else if (status.st_uid != ::geteuid()) {
        problem = refusal(EPERM, "the container " + path + " belongs to another user (uid " +
                                     std::to_string(status.st_uid) + "), so it is not used");
    } else if (made || (status.st_mode & 07777) != 0700) {
        // Where the file system keeps no modes of its own, the mount decides them: such a
        // folder serves while nobody else may write it.
        if (calls.fchmod(fd, 0700) != 0 && (status.st_mode & 022) != 0)
            problem = PlatformError::posix(errno, "the container " + path);
    }
    calls.close(fd);
    return problem;
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
    const std::string rootPath = URL::fileURLWithPath(root).path();
    int failure = 0;
    // Containers are the owner's alone, as the platform makes them, whatever the umask.
    if (!makeFolders(rootPath, 0700, true, &failure))
        return PlatformError::posix(failure, "the container " + rootPath + "/" + group);
    return openOwnContainer(rootPath, group);
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
