#include "reader/internal/DeliveryRecords.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdio>

#include "reader/TextTitle.h"
#include "reader/internal/MoveOrCopy.h"

namespace reader::internal {

namespace {
constexpr const char* kRecordHeader = "quorvane delivery record 1";
}  // namespace

std::string recordBytes(const Record& record) {
    return std::string(kRecordHeader) + "\n" + std::to_string(record.folderDevice) + " " +
           std::to_string(record.folderInode) + "\n" + std::to_string(record.fileDevice) + " " +
           std::to_string(record.fileInode) + "\n" + record.name + "\n" + record.folderPath;
}

std::optional<Record> readRecord(int claims, const std::string& id) {
    Fd fd(::openat(claims, id.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd)
        return std::nullopt;  // errno ENOENT: there is none
    errno = EINVAL;           // from here on: there is one, but it is incomplete
    struct ::stat status {};
    if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size > 65536)
        return std::nullopt;
    std::string bytes(static_cast<std::size_t>(status.st_size), '\0');
    if (::pread(fd.get(), bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
        return std::nullopt;
    Record record;
    std::size_t pos = 0;
    auto line = [&](std::string* out) {
        const std::size_t end = bytes.find('\n', pos);
        if (end == std::string::npos)
            return false;
        *out = bytes.substr(pos, end - pos);
        pos = end + 1;
        return true;
    };
    std::string header, folderIds, fileIds;
    if (!line(&header) || header != kRecordHeader || !line(&folderIds) || !line(&fileIds) ||
        !line(&record.name) || record.name.empty() || record.name.find('/') != std::string::npos)
        return std::nullopt;
    record.folderPath = bytes.substr(pos);
    unsigned long long a = 0, b = 0, c = 0, d = 0;
    if (std::sscanf(folderIds.c_str(), "%llu %llu", &a, &b) != 2 ||
        std::sscanf(fileIds.c_str(), "%llu %llu", &c, &d) != 2 || record.folderPath.empty())
        return std::nullopt;
    record.folderDevice = static_cast<dev_t>(a);
    record.folderInode = static_cast<ino_t>(b);
    record.fileDevice = static_cast<dev_t>(c);
    record.fileInode = static_cast<ino_t>(d);
    return record;
}

std::string writeRecord(int claims, const std::string& id, const Record& record, bool sync) {
    const std::string bytes = recordBytes(record);
    Fd fd(
        ::openat(claims, id.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd)
        return failure("writing the delivery record of " + id, errno);
    if (::write(fd.get(), bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        return failure("writing the delivery record of " + id, errno ? errno : EIO);
    if (sync && syncRetrying(fd.get()) != 0)
        return failure("syncing the delivery record of " + id, errno);
    return {};
}

std::string partialName(const std::string& id) {
    return ".quorvane-receive-" + id + ".partial";
}

void removeLeftoverPartial(int folder, const std::string& id) {
    struct ::stat status {};
    const std::string name = partialName(id);
    if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(status.st_mode) && status.st_uid == ownUser())
        (void)::unlinkat(folder, name.c_str(), 0);
}

Settled settle(int claims, const std::string& id, const DeliveryFolder* current, const Hold& held,
               std::string* deliveredTo, std::string* problem) {
    const std::optional<Record> record = readRecord(claims, id);
    if (!record) {
        if (errno != ENOENT)
            (void)::unlinkat(claims, id.c_str(), 0);  // an incomplete record
        return Settled::nothingRecorded;
    }
    Fd other;
    int folder = -1;
    if (current && current->device() == record->folderDevice &&
        current->inode() == record->folderInode) {
        folder = current->descriptor();
    } else {
        other = Fd(::open(record->folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct ::stat status {};
        if (!other && errno != ENOENT && errno != ENOTDIR) {
            *problem = failure(id + " was being delivered into " + record->folderPath +
                                   ", which cannot be checked now",
                               errno);
            return Settled::failed;
        }
        if (other && ::fstat(other.get(), &status) == 0 && status.st_dev == record->folderDevice &&
            status.st_ino == record->folderInode)
            folder = other.get();
    }
    if (folder >= 0) {
        struct ::stat status {};
        if (::fstatat(folder, record->name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(status.st_mode) &&
            ((status.st_dev == record->fileDevice && status.st_ino == record->fileInode) ||
             sameBytes(folder, record->name, status, held))) {
            if (syncRetrying(folder) != 0) {
                *problem = failure("syncing " + record->folderPath, errno);
                return Settled::failed;
            }
            removeLeftoverPartial(folder, id);
            *deliveredTo = record->folderPath + "/" + record->name;
            return Settled::delivered;
        }
        removeLeftoverPartial(folder, id);
        // Where the folder cannot rename without replacing (FAT through FUSE), a reader killed
        // after reserving the name leaves an empty file there: it holds nothing, and it goes.
        if (::fstatat(folder, record->name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(status.st_mode) && status.st_size == 0 && status.st_uid == ownUser() &&
            held.fd && held.status.st_size > 0)
            (void)::unlinkat(folder, record->name.c_str(), 0);
    }
    (void)::unlinkat(claims, id.c_str(), 0);
    return Settled::nothingRecorded;
}

void sweepRecords(int claims, int imported) {
    DIR* dir = readEntries(claims);
    if (!dir)
        return;
    while (const struct dirent* entry = ::readdir(dir)) {
        struct ::stat status {};
        if (isTextName(entry->d_name) &&
            ::fstatat(imported, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0 &&
            errno == ENOENT)
            (void)::unlinkat(claims, entry->d_name, 0);
    }
    ::closedir(dir);
}

}  // namespace reader::internal
