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
#include "handover/FolderWalk.h"

namespace reader::internal {
namespace {

// What a walk that stopped says: `missing` set when a folder does not exist (yet), else the
// reason in `problem`, naming the folder.
void report(const handover::WalkFailure& stopped, bool* missing, std::string* problem) {
    using Kind = handover::WalkFailure::Kind;
    switch (stopped.kind) {
        case Kind::missing:
            *missing = true;
            return;
        case Kind::notFolder:
            *problem = stopped.path + " is " + kindOf(stopped.type) + ", not a folder";
            return;
        case Kind::system:
            *problem = failure(stopped.what, stopped.error);
            return;
        default:
            *problem = stopped.sentence();
            return;
    }
}

}  // namespace

Fd openOwnFolder(int parent, const char* name, const std::string& shown, bool* missing,
                 std::string* problem) {
    handover::WalkFailure failure;
    Fd folder = handover::FolderWalk().openOwn(parent, name, shown, &failure);
    if (!folder)
        report(failure, missing, problem);
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
    handover::WalkFailure failure;
    handover::WalkedFolder walked =
        handover::FolderWalk().down(handover::groupContainerPath(root), "regular/imported",
                                    handover::Missing::report, &failure);
    if (!walked.folder) {
        report(failure, &folders.missing, problem);
        return folders;
    }
    folders.regular = std::move(walked.parent);
    folders.imported = std::move(walked.folder);
    const std::string kind = ownerlessFileSystem(folders.imported.get());
    if (!kind.empty()) {
        *problem = handover::importFolderPath(root) + " is on " + kind +
                   ", which keeps no owners or modes: anyone could plant a text there, so it is "
                   "not used";
        folders.imported.reset();
    }
    return folders;
}

Fd openClaims(int regular, const std::string& shown, std::string* problem) {
    handover::WalkFailure failure;
    Fd claims = handover::FolderWalk().makeOwn(regular, kClaimsFolder, shown, &failure);
    if (!claims) {
        bool missing = false;
        report(failure, &missing, problem);
        if (missing)
            *problem = shown + " vanished while it was opened";
    }
    return claims;
}

}  // namespace reader::internal
