#include "handover/FolderWalk.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace handover {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

bool fail(WalkFailure* failure, WalkFailure::Kind kind, int error, const std::string& path,
          std::string what = {}) {
    failure->kind = kind;
    failure->error = error;
    failure->path = path;
    failure->what = std::move(what);
    return false;
}

// A call that failed with `error` while doing `what` to `path`.
bool failCall(WalkFailure* failure, int error, const std::string& path, std::string what) {
    return fail(failure, error == ENOENT ? WalkFailure::Kind::missing : WalkFailure::Kind::system,
                error, path, std::move(what));
}

std::vector<std::string> pathComponents(std::string_view path) {
    std::vector<std::string> components;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t slash = std::min(path.find('/', start), path.size());
        if (slash > start)
            components.emplace_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return components;
}

}  // namespace

std::string WalkFailure::sentence(std::string_view use) const {
    switch (kind) {
        case Kind::link:
            return path + " is a symbolic link, which is never followed";
        case Kind::notFolder:
            return path + " is not a folder";
        case Kind::otherUser:
            return path + " belongs to another user (uid " + std::to_string(owner) +
                   "), so it is not " + std::string(use);
        case Kind::openToOthers:
            return path +
                   " can be written by other users and its file system does not let it be made "
                   "owner-only";
        case Kind::missing:
        case Kind::system:
            break;
    }
    return what;
}

Descriptor FolderWalk::openStart(const std::string& path, WalkFailure* failure) const {
    Descriptor folder(calls_.openat(AT_FDCWD, path.c_str(), kFolderFlags, 0), calls_);
    if (!folder)
        failCall(failure, errno, path, "opening folder " + path);
    return folder;
}

Descriptor FolderWalk::openOwn(int parent, const std::string& name, const std::string& shown,
                               WalkFailure* failure, struct ::stat* opened) const {
    Descriptor folder(calls_.openat(parent, name.c_str(), kFolderFlags | O_NOFOLLOW, 0), calls_);
    struct ::stat status {};
    if (!folder) {
        const int error = errno;
        if ((error == ELOOP || error == ENOTDIR) &&
            calls_.fstatat(parent, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
            failure->type = status.st_mode & S_IFMT;
            if (S_ISLNK(status.st_mode)) {
                fail(failure, WalkFailure::Kind::link, ELOOP, shown);
                return folder;
            }
            if (!S_ISDIR(status.st_mode)) {
                fail(failure, WalkFailure::Kind::notFolder, ENOTDIR, shown);
                return folder;
            }
        }
        failCall(failure, error, shown, "opening folder " + shown);
        return folder;
    }
    if (calls_.fstatat(folder.get(), "", &status, AT_EMPTY_PATH) != 0) {
        failCall(failure, errno, shown, "checking " + shown);
        return Descriptor();
    }
    if (status.st_uid != ::geteuid()) {
        failure->owner = status.st_uid;
        fail(failure, WalkFailure::Kind::otherUser, EPERM, shown);
        return Descriptor();
    }
    if (opened)
        *opened = status;
    return folder;
}

bool FolderWalk::setOwnerOnly(int fd, mode_t mode, const std::string& shown,
                              WalkFailure* failure) const {
    if (calls_.fchmod(fd, mode) == 0)
        return true;
    const int error = errno;
    if (error != EPERM && error != EOPNOTSUPP && error != ENOTSUP && error != ENOSYS)
        return failCall(failure, error, shown, "making " + shown + " owner-only");
    struct ::stat status {};
    if (calls_.fstatat(fd, "", &status, AT_EMPTY_PATH) != 0)
        return failCall(failure, errno, shown, "checking " + shown);
    if (status.st_mode & (S_IWGRP | S_IWOTH))
        return fail(failure, WalkFailure::Kind::openToOthers, EPERM, shown);
    return true;
}

Descriptor FolderWalk::makeOwn(int parent, const std::string& name, const std::string& shown,
                               WalkFailure* failure) const {
    bool made = false;
    if (calls_.mkdirat(parent, name.c_str(), 0700) == 0) {
        made = true;
    } else if (errno != EEXIST) {
        failCall(failure, errno, shown, "creating folder " + shown);
        return Descriptor();
    }
    struct ::stat status {};
    Descriptor folder = openOwn(parent, name, shown, failure, &status);
    if (!folder)
        return folder;
    if ((made || (status.st_mode & 07777) != 0700) &&
        !setOwnerOnly(folder.get(), 0700, shown, failure))
        return Descriptor();
    if (made && calls_.fsync(parent) != 0) {
        failCall(failure, errno, shown + "/..", "syncing folder " + shown + "/..");
        return Descriptor();
    }
    return folder;
}

WalkedFolder FolderWalk::down(const std::string& container, std::string_view below, Missing missing,
                              WalkFailure* failure) const {
    WalkedFolder walked;
    const std::vector<std::string> components = pathComponents(below);
    if (components.empty()) {
        failCall(failure, EINVAL, container, "no folder to walk to below " + container);
        return walked;
    }
    std::string trimmed = container;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    const std::size_t slash = trimmed.rfind('/');
    const std::string above = slash == std::string::npos ? "."
                              : slash == 0               ? "/"
                                                         : trimmed.substr(0, slash);
    const std::string name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
    Descriptor holder = openStart(above, failure);
    if (!holder)
        return walked;
    walked.folder = name.empty() || name == "/" ? std::move(holder)
                                                : openOwn(holder.get(), name, container, failure);
    walked.shown = container;
    for (const std::string& component : components) {
        if (!walked.folder)
            return walked;
        walked.parent = std::move(walked.folder);
        walked.name = component;
        walked.shown += "/" + component;
        walked.folder = missing == Missing::make
                            ? makeOwn(walked.parent.get(), component, walked.shown, failure)
                            : openOwn(walked.parent.get(), component, walked.shown, failure);
    }
    return walked;
}

}  // namespace handover
