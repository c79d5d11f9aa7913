#include "reader/internal/FolderWalk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "handover/ContainerLocation.h"

namespace reader::internal {

Fd openOwnFolder(int parent, const char* name, const std::string& shown, bool* missing,
                 std::string* problem) {
    Fd folder(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder) {
        const int error = errno;
        struct ::stat status {};
        if (error == ENOENT) {
            *missing = true;
        } else if ((error == ELOOP || error == ENOTDIR) &&
                   ::fstatat(parent, name, &status, AT_SYMLINK_NOFOLLOW) == 0) {
            *problem = shown + " is " + kindOf(status.st_mode) +
                       (S_ISLNK(status.st_mode) ? ", which is never followed" : ", not a folder");
        } else {
            *problem = failure("opening " + shown, error);
        }
        return folder;
    }
    struct ::stat status {};
    if (::fstat(folder.get(), &status) != 0) {
        *problem = failure("checking " + shown, errno);
        return Fd();
    }
    if (status.st_uid != ownUser()) {
        *problem = shown + " belongs to another user (uid " + std::to_string(status.st_uid) +
                   "), so it is not used";
        return Fd();
    }
    return folder;
}

std::string ownerlessFileSystem(int fd) {
    struct ::statfs system {};
    if (::fstatfs(fd, &system) != 0)
        return {};
    switch (static_cast<unsigned long>(system.f_type)) {
        case 0x4d44:  // MSDOS_SUPER_MAGIC: FAT (vfat, msdos)
            return "a FAT file system";
        case 0x2011BAB0:  // exFAT
            return "an exFAT file system";
        case 0x517B:      // SMB
        case 0xFF534D42:  // CIFS
        case 0xFE534D42:  // SMB2
            return "an SMB network share";
        case 0x65735546:  // FUSE: its kind is in the mount table
            break;
        default:
            return {};
    }
    struct ::stat status {};
    if (::fstat(fd, &status) != 0)
        return {};
    const std::string device =
        std::to_string(major(status.st_dev)) + ":" + std::to_string(minor(status.st_dev));
    FILE* table = std::fopen("/proc/self/mountinfo", "re");
    if (!table)
        return {};
    std::string kind;
    char* line = nullptr;
    std::size_t capacity = 0;
    while (kind.empty() && ::getline(&line, &capacity, table) > 0) {
        // "id parent major:minor root point options [tags] - type source options"
        const std::string_view entry(line);
        std::size_t field = entry.find(' ');
        field = field == std::string_view::npos ? field : entry.find(' ', field + 1);
        const std::size_t separator = entry.find(" - ");
        if (field == std::string_view::npos || separator == std::string_view::npos ||
            entry.substr(field + 1, device.size() + 1) != device + " ")
            continue;
        const std::string_view rest = entry.substr(separator + 3);
        const std::string type(rest.substr(0, rest.find(' ')));
        if (type == "fuse.fusefat" || type == "fuse.vfat")
            kind = "a FAT file system (" + type + ")";
        else if (type == "fuse.exfat" || type == "fuse.exfat-fuse")
            kind = "an exFAT file system (" + type + ")";
        else if (type == "fuseblk")
            kind = "a FUSE disk file system (fuseblk: exFAT or NTFS)";
        else
            break;  // another FUSE file system: it keeps owners as it says
    }
    std::free(line);
    std::fclose(table);
    return kind;
}

Folders openFolders(const std::string& root, std::string* problem) {
    Folders folders;
    const std::string container = handover::groupContainerPath(root);
    Fd containerFd(::open(container.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!containerFd) {
        if (errno == ENOENT)
            folders.missing = true;
        else
            *problem = failure("opening " + container, errno);
        return folders;
    }
    folders.regular = openOwnFolder(containerFd.get(), "regular", container + "/regular",
                                    &folders.missing, problem);
    if (!folders.regular)
        return folders;
    folders.imported = openOwnFolder(folders.regular.get(), "imported",
                                     handover::importFolderPath(root), &folders.missing, problem);
    if (folders.imported) {
        const std::string kind = ownerlessFileSystem(folders.imported.get());
        if (!kind.empty()) {
            *problem = handover::importFolderPath(root) + " is on " + kind +
                       ", which keeps no owners or modes: anyone could plant a text there, so "
                       "it is not used";
            folders.imported.reset();
        }
    }
    return folders;
}

Fd openClaims(int regular, const std::string& shown, std::string* problem) {
    if (::mkdirat(regular, kClaimsFolder, 0700) == 0) {
        if (syncRetrying(regular) != 0) {
            *problem = failure("syncing the folder of " + shown, errno);
            return Fd();
        }
    } else if (errno != EEXIST) {
        *problem = failure("making " + shown, errno);
        return Fd();
    }
    bool missing = false;
    Fd claims = openOwnFolder(regular, kClaimsFolder, shown, &missing, problem);
    if (missing)
        *problem = shown + " vanished while it was opened";
    if (claims) {
        struct ::stat status {};
        if (::fstat(claims.get(), &status) == 0 && (status.st_mode & 077) != 0)
            (void)::fchmod(claims.get(), 0700);
    }
    return claims;
}

}  // namespace reader::internal
