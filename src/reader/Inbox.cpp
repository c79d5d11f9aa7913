#include "reader/Inbox.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

#include "handover/ContainerLocation.h"
#include "reader/TextTitle.h"

namespace reader {
namespace {

constexpr const char* kClaimsFolder = ".imported-claims";
constexpr const char* kRecordHeader = "quorvane delivery record 1";
// Below this many texts a batch syncs each record and copy on its own; from here on one sync of
// the whole file system costs less.
constexpr std::size_t kWholeFileSystemSync = 32;
// From how many texts a batch may hold does a delivery hold the next batch while it moves one.
constexpr std::size_t kHoldAheadFrom = 8;
// How many names ("Title (2).txt" ...) are tried before a delivery gives up.
constexpr unsigned kMaxCopies = 100000;
constexpr std::size_t kCopyChunk = 256 * 1024;

// An open descriptor, closed when the scope ends.
class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    void reset() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    [[nodiscard]] int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    explicit operator bool() const { return fd_ >= 0; }

  private:
    int fd_;
};

// The user this process runs as (asked once: it is asked for every entry).
uid_t ownUser() {
    static const uid_t user = ::geteuid();
    return user;
}

std::string systemReason(int error) {
    return std::strerror(error);
}

std::string failure(const std::string& what, int error) {
    return what + ": " + systemReason(error);
}

bool sameFile(const struct ::stat& a, const struct ::stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

int syncRetrying(int fd) {
    while (::fsync(fd) != 0) {
        if (errno != EINTR)
            return -1;
    }
    return 0;
}

// Reads the first bytes of `fd` into `head` (sized kTitleReadLimit); how many it got, or -1
// with errno when the read fails.
ssize_t readHead(int fd, std::string& head) {
    ssize_t got = -1;
    do {
        got = ::pread(fd, head.data(), head.size(), 0);
    } while (got < 0 && errno == EINTR);
    return got;
}

// Runs `work(first, step)` for the items first, first + step, ... of `count` items on a few
// threads at once (one more for each `perThread` items, at most four), this one among them: a
// folder of thousands of texts costs thousands of system calls, which the cores share.
void shareOut(std::size_t count, std::size_t perThread,
              const std::function<void(std::size_t, std::size_t)>& work) {
    const std::size_t threads = std::clamp<std::size_t>(
        std::min<std::size_t>(std::thread::hardware_concurrency(), 4), 1, count / perThread + 1);
    std::vector<std::thread> workers;
    for (std::size_t t = 1; t < threads; ++t) {
        try {
            workers.emplace_back(work, t, threads);
        } catch (const std::system_error&) {
            // No thread to be had: this one does that share too.
            workers.emplace_back();
            work(t, threads);
        }
    }
    work(0, threads);
    for (auto& worker : workers)
        if (worker.joinable())
            worker.join();
}

// What an entry that is not a text is, for a listing's report.
std::string kindOf(mode_t mode) {
    if (S_ISLNK(mode))
        return "a symbolic link";
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    if (S_ISSOCK(mode))
        return "a socket";
    return "not a regular file";
}

std::string nameReason(const std::string& name) {
    if (name.starts_with(".syncthing.") || name.ends_with(".tmp") || name.starts_with(".~"))
        return "a folder-sync tool's temporary file";
    if (name.find(".sync-conflict-") != std::string::npos ||
        name.find("conflicted copy") != std::string::npos)
        return "a folder-sync tool's conflict copy";
    // Syncthing's marker and ignore patterns live in the folder it keeps in step.
    if (name == ".stfolder" || name == ".stignore" || name == ".stversions")
        return "a folder-sync tool's own entry";
    return "not a sent text's name";
}

// The folders of the hand-over, opened by descriptors along the path without following links.
struct Folders {
    Fd regular;
    Fd imported;
    bool missing = false;  // the container, "regular" or "imported" does not exist (yet)
};

// Opens `name` in `parent` as a folder of this user, never through a link. Empty with
// `missing` set when it does not exist; empty with `problem` set when it may not be used.
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

// The file system of `fd` when it keeps no owners or modes of its own (every file shows the
// mounting user and one mode), in words ("a FAT file system"); empty for any other.
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

// The folder of delivery records beside the import folder, made owner-only when missing.
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

// A text held: its file open and locked, checked to be still the entry of its name. When it is
// not held, `state` says why.
struct Hold {
    enum class State : unsigned char { held, gone, heldElsewhere, failed };
    Fd fd;
    struct ::stat status {};
    State state = State::gone;
    std::string problem;  // State::failed: what failed and why
};

// Whether `id` in `imported` is still the file `held` (a reader that held it before may have
// removed it between our open and our lock).
bool stillNamed(int imported, const std::string& id, const struct ::stat& held) {
    struct ::stat named {};
    return ::fstatat(imported, id.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           sameFile(named, held);
}

enum class NameCheck { now, later };

// Whether an open of a text that failed with `error` says only that it is no text (any more):
// gone, or replaced by a link or something else that is not a regular file.
bool noTextAnyMore(int error) {
    return error == ENOENT || error == ELOOP || error == ENXIO || error == ENODEV ||
           error == EISDIR || error == ENOTDIR;
}

Hold notHeld(Hold::State state, std::string problem = {}) {
    Hold held;
    held.state = state;
    held.problem = std::move(problem);
    return held;
}

// Holds `id` in `imported` (`path` names it in messages). Not held when it is gone, not a text
// of ours any more, or held by another reader (each said in `state`), or when opening, looking
// at or locking it fails (State::failed, with the reason). With NameCheck::later the caller
// checks stillNamed() itself before it acts on the name.
Hold hold(int imported, const std::string& id, const std::string& path,
          NameCheck check = NameCheck::now) {
    Hold held;
    held.fd = Fd(
        ::openat(imported, id.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!held.fd) {
        const int error = errno;
        return noTextAnyMore(error)
                   ? notHeld(Hold::State::gone)
                   : notHeld(Hold::State::failed, failure("opening " + path, error));
    }
    if (::fstat(held.fd.get(), &held.status) != 0)
        return notHeld(Hold::State::failed, failure("looking at " + path, errno));
    if (!S_ISREG(held.status.st_mode) || held.status.st_uid != ownUser())
        return notHeld(Hold::State::gone);
    if (::flock(held.fd.get(), LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        return error == EWOULDBLOCK
                   ? notHeld(Hold::State::heldElsewhere)
                   : notHeld(Hold::State::failed, failure("locking " + path, error));
    }
    if (check == NameCheck::now && !stillNamed(imported, id, held.status))
        return notHeld(Hold::State::gone);
    held.state = Hold::State::held;
    return held;
}

// What a hand-over that could not hold its text says.
void reportNotHeld(const Hold& held, HandOver& result) {
    result.outcome = held.state == Hold::State::failed ? Outcome::failed : Outcome::notWaiting;
    result.problem = held.problem;
    result.heldElsewhere = held.state == Hold::State::heldElsewhere;
}

// A batch of texts held, each with the title of the file held (an empty Hold: not held).
struct HeldBatch {
    std::vector<Hold> holds;
    std::vector<std::string> titles;
};

// Holds texts[from, to) in `imported` and reads each held file's title; the names a delivery
// makes come from what it holds. With `shared`, a few threads share the work.
HeldBatch holdBatch(int imported, const std::vector<WaitingText>& texts, std::size_t from,
                    std::size_t to, bool shared) {
    HeldBatch batch;
    batch.holds.resize(to - from);
    batch.titles.resize(to - from);
    shareOut(to - from, shared ? 256 : to - from + 1, [&](std::size_t first, std::size_t step) {
        std::string head(kTitleReadLimit, '\0');
        for (std::size_t i = first; i < batch.holds.size(); i += step) {
            const WaitingText& text = texts[from + i];
            batch.holds[i] = hold(imported, text.id, text.path, NameCheck::later);
            if (!batch.holds[i].fd)
                continue;
            const ssize_t got = readHead(batch.holds[i].fd.get(), head);
            if (got < 0)
                batch.holds[i] =
                    notHeld(Hold::State::failed, failure("reading " + text.path, errno));
            else
                batch.titles[i] =
                    titleOf(std::string_view(head.data(), static_cast<std::size_t>(got)));
        }
    });
    return batch;
}

// Links the open file `fd` as `name` in `folder`. 0, or -1 with errno.
int linkDescriptor(int fd, int folder, const std::string& name) {
    const std::string procPath = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, procPath.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return 0;
    if (errno != ENOENT)
        return -1;
    // No /proc: link the descriptor itself (needs the right to do so).
    return ::linkat(fd, "", folder, name.c_str(), AT_EMPTY_PATH);
}

// What a delivery chose, as its record keeps it.
struct Record {
    dev_t folderDevice = 0;
    ino_t folderInode = 0;
    dev_t fileDevice = 0;
    ino_t fileInode = 0;
    std::string name;
    std::string folderPath;
};

std::string recordBytes(const Record& record) {
    return std::string(kRecordHeader) + "\n" + std::to_string(record.folderDevice) + " " +
           std::to_string(record.folderInode) + "\n" + std::to_string(record.fileDevice) + " " +
           std::to_string(record.fileInode) + "\n" + record.name + "\n" + record.folderPath;
}

// The record of `id`, or none when there is none or it is incomplete (a reader killed while
// writing it had not linked anything yet: links come only after a whole record).
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

// Writes the record of `id` in one write (replacing an earlier one of the same holder), synced
// when `sync` is true. Empty, or the reason.
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

// The hidden name of a copy being made in a folder without unnamed files; only the holder of
// the text `id` makes or removes it.
std::string partialName(const std::string& id) {
    return ".quorvane-receive-" + id + ".partial";
}

// Removes `id`'s leftover partial copy from `folder`, if an earlier holder was killed making it.
void removeLeftoverPartial(int folder, const std::string& id) {
    struct ::stat status {};
    const std::string name = partialName(id);
    if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(status.st_mode) && status.st_uid == ownUser())
        (void)::unlinkat(folder, name.c_str(), 0);
}

// ---- leaving the import folder: only the file held ----

constexpr const char* kAsidePrefix = ".taking-";

// The name under which the held file `held` of text `id` is set aside in the records folder
// while it is removed: the inode it must be is part of the name, so whoever finds it there
// (after its holder was killed) can tell the held file from a newer one.
std::string asideName(const std::string& id, const struct ::stat& held) {
    return kAsidePrefix + id + "-" + std::to_string(held.st_ino);
}

// A new text name (an upper-case version 4 UUID), for a newer file that cannot go back under
// its own name because a still newer one took it.
std::string freshTextName() {
    unsigned char bytes[16] = {};
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // No random source: time and process make a name that is still unique enough here.
            const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
            for (std::size_t i = 0; i < sizeof bytes; ++i)
                bytes[i] ^= static_cast<unsigned char>((now >> (8 * (i % 8))) ^ ::getpid() >> i);
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
    char name[37];
    std::snprintf(name, sizeof name,
                  "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", bytes[0],
                  bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                  bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return name;
}

// Puts what is set aside as `aside` in `claims` (or what a move took into the delivery folder)
// back into the import folder as `id`, to wait: it is not the file that was held. Where a still
// newer file took the name meanwhile, a regular file goes back under a new name (it is a text of
// its own, never lost) and anything else (a link, a FIFO) is removed: it was never a text.
void putBack(int claims, const std::string& aside, int imported, const std::string& id) {
    if (::renameat2(claims, aside.c_str(), imported, id.c_str(), RENAME_NOREPLACE) == 0 ||
        errno == ENOENT)
        return;
    struct ::stat status {};
    if (::fstatat(claims, aside.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    if (!S_ISREG(status.st_mode)) {
        (void)::unlinkat(claims, aside.c_str(), 0);
        return;
    }
    for (int attempt = 0; attempt < 8; ++attempt)
        if (::renameat2(claims, aside.c_str(), imported, freshTextName().c_str(),
                        RENAME_NOREPLACE) == 0 ||
            errno != EEXIST)
            return;
}

// Removes `id` from the import folder only while it is the held file `held`. The name is moved
// aside into `claims` (the records folder, on the same file system) in one step; there the held
// file is removed and anything else goes back under the name. Without a records folder on the
// same file system the name is looked at just before it is removed. True when the held file no
// longer waits under `id` (removed now, or gone already); false with errno.
bool removeHeld(int imported, int claims, const std::string& id, const struct ::stat& held) {
    const std::string aside = asideName(id, held);
    if (claims >= 0 &&
        ::renameat2(imported, id.c_str(), claims, aside.c_str(), RENAME_NOREPLACE) == 0) {
        struct ::stat moved {};
        if (::fstatat(claims, aside.c_str(), &moved, AT_SYMLINK_NOFOLLOW) == 0 &&
            !sameFile(moved, held)) {
            putBack(claims, aside, imported, id);
            return true;
        }
        return ::unlinkat(claims, aside.c_str(), 0) == 0 || errno == ENOENT;
    }
    if (claims >= 0 && errno == ENOENT)
        return true;
    if (claims >= 0 && errno != EXDEV && errno != EINVAL && errno != ENOSYS &&
        errno != EOPNOTSUPP && errno != EEXIST)
        return false;
    if (!stillNamed(imported, id, held))
        return true;
    return ::unlinkat(imported, id.c_str(), 0) == 0 || errno == ENOENT;
}

// A stream of the entries of the open folder `folder`, from its first: made on a duplicate
// descriptor, which shares its position with every earlier reading of the folder, so it is
// rewound. Null, with errno set, when it cannot be made; the caller closes it with closedir().
DIR* readEntries(int folder) {
    const int dupFd = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
    if (dupFd < 0)
        return nullptr;
    DIR* dir = ::fdopendir(dupFd);
    if (!dir) {
        const int error = errno;
        ::close(dupFd);
        errno = error;
        return nullptr;
    }
    ::rewinddir(dir);
    return dir;
}

// Finishes what readers killed while removing a text left set aside in `claims`: the file its
// name says it is (delivered or consumed before it was set aside) is removed, anything else put
// back to wait.
void sweepAside(int claims, int imported) {
    DIR* dir = readEntries(claims);
    if (!dir)
        return;
    std::vector<std::string> aside;
    while (const struct dirent* entry = ::readdir(dir))
        if (std::string_view(entry->d_name).starts_with(kAsidePrefix))
            aside.emplace_back(entry->d_name);
    ::closedir(dir);
    for (const std::string& name : aside) {
        const std::size_t idStart = std::strlen(kAsidePrefix);
        const std::size_t dash = name.rfind('-');
        if (dash == std::string::npos || dash <= idStart)
            continue;
        const std::string id = name.substr(idStart, dash - idStart);
        char* end = nullptr;
        const unsigned long long inode = std::strtoull(name.c_str() + dash + 1, &end, 10);
        struct ::stat status {};
        if (!isTextName(id) || *end != '\0' ||
            ::fstatat(claims, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISREG(status.st_mode) && status.st_ino == static_cast<ino_t>(inode))
            (void)::unlinkat(claims, name.c_str(), 0);
        else
            putBack(claims, name, imported, id);
    }
}

// Copies the held text into a new file in `folder` that has no name yet (or, where the file
// system has no unnamed files, a hidden partial name), written and, when `sync`, synced. The
// copy keeps the text's modification time and is owner-only.
struct Copy {
    Fd fd;
    std::string partial;  // the hidden name, when it has one
};
std::optional<Copy> copyInto(const Hold& text, int folder, const std::string& folderPath,
                             const std::string& id, bool sync, std::string* problem) {
    Copy copy;
    copy.fd = Fd(::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    if (!copy.fd) {
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            *problem = failure("making a copy in " + folderPath, errno);
            return std::nullopt;
        }
        copy.partial = partialName(id);
        removeLeftoverPartial(folder, id);
        copy.fd = Fd(::openat(folder, copy.partial.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!copy.fd) {
            *problem = failure("making " + folderPath + "/" + copy.partial, errno);
            return std::nullopt;
        }
    }
    auto fail = [&](const std::string& what, int error) {
        *problem = failure(what + " " + folderPath, error);
        if (!copy.partial.empty())
            (void)::unlinkat(folder, copy.partial.c_str(), 0);
        return std::nullopt;
    };
    std::string buffer(kCopyChunk, '\0');
    off_t offset = 0;
    for (;;) {
        const ssize_t got = ::pread(text.fd.get(), buffer.data(), buffer.size(), offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return fail("reading " + id + " to copy it into", errno);
        if (got == 0)
            break;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put =
                ::write(copy.fd.get(), buffer.data() + done, static_cast<std::size_t>(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                return fail("copying " + id + " into", put < 0 ? errno : EIO);
            done += put;
        }
        offset += got;
    }
    const struct timespec times[2] = {text.status.st_atim, text.status.st_mtim};
    (void)::futimens(copy.fd.get(), times);
    (void)::fchmod(copy.fd.get(), 0600);
    if (sync && syncRetrying(copy.fd.get()) != 0)
        return fail("syncing the copy of " + id + " in", errno);
    return copy;
}

// Whether a link that failed with `error` says the folder has no links at all (FAT, exFAT).
bool linksRefused(int error) {
    return error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EMLINK;
}

// `name` as folders without links (FAT, exFAT, SMB) take it: the characters they refuse in a
// name (\ : * ? " < > |) become "-".
std::string portableName(std::string name) {
    for (char& c : name)
        if (std::string_view("\\:*?\"<>|").find(c) != std::string_view::npos)
            c = '-';
    return name;
}

// Gives the file `from` in `folder` the name `to`, never replacing anything there. Where the
// file system cannot rename without replacing (`noReplace` is then cleared for the next time),
// `to` is first made as an empty file of ours, which fails when anything is there, and then
// replaced. 0, or -1 with errno (EEXIST: the name is taken).
int renameNoReplace(int folder, const std::string& from, const std::string& to, bool* noReplace) {
    if (*noReplace) {
        if (::renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0)
            return 0;
        if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
            return -1;
        *noReplace = false;
    }
    Fd reserved(
        ::openat(folder, to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!reserved)
        return -1;
    if (::renameat(folder, from.c_str(), folder, to.c_str()) == 0)
        return 0;
    const int error = errno;
    (void)::unlinkat(folder, to.c_str(), 0);
    errno = error;
    return -1;
}

// Whether `name` in `folder` (looked at as `status`) holds the same bytes as the held text.
// Where a file system keeps no lasting inode numbers (FAT gives them out afresh as files are
// looked up), a recorded file is known by its bytes.
bool sameBytes(int folder, const std::string& name, const struct ::stat& status, const Hold& held) {
    if (!held.fd || status.st_size != held.status.st_size)
        return false;
    Fd file(::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!file)
        return false;
    std::string mine(kCopyChunk, '\0'), theirs(kCopyChunk, '\0');
    for (off_t offset = 0;;) {
        const ssize_t a = ::pread(held.fd.get(), mine.data(), mine.size(), offset);
        const ssize_t b = ::pread(file.get(), theirs.data(), theirs.size(), offset);
        if (a < 0 || a != b)
            return false;
        if (a == 0)
            return true;
        if (std::memcmp(mine.data(), theirs.data(), static_cast<std::size_t>(a)) != 0)
            return false;
        offset += a;
    }
}

// What a record says happened, checked against the delivery folder.
enum class Settled { nothingRecorded, delivered, failed };

// Reads `id`'s record (its holder calls this before doing anything else) and, when the file it
// names is in its folder, syncs that folder so the delivery is durable. The record is removed
// when it names nothing that exists any more. `current` is the folder of this run, if any.
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

// The absolute form of `path` (made from the working folder when relative), without resolving
// links.
std::string absolutePath(const std::string& path) {
    if (path.starts_with('/'))
        return path;
    std::string cwd(4096, '\0');
    while (::getcwd(cwd.data(), cwd.size()) == nullptr) {
        if (errno != ERANGE)
            return path;
        cwd.resize(cwd.size() * 2);
    }
    cwd.resize(std::strlen(cwd.c_str()));
    return (cwd == "/" ? "" : cwd) + "/" + path;
}

// Makes `path` and its missing parents (the new ones owner-only), like mkdir -p.
int makeFolders(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST)
        return 0;
    if (errno != ENOENT)
        return -1;
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0 || makeFolders(path.substr(0, slash)) != 0)
        return -1;
    return (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) ? 0 : -1;
}

// Removes the records whose text has left the import folder: a reader killed after removing
// the text and before its record leaves one behind. A record whose text still waits belongs to
// that text's next holder.
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

// The names in `folder`, or none when it cannot be read.
std::optional<std::set<std::string>> entryNames(int folder) {
    std::set<std::string> names;
    DIR* dir = readEntries(folder);
    if (!dir)
        return std::nullopt;
    errno = 0;
    while (const struct dirent* entry = ::readdir(dir))
        names.insert(entry->d_name);
    if (errno != 0) {
        ::closedir(dir);
        return std::nullopt;
    }
    ::closedir(dir);
    return names;
}

// Whether `path` is `folder` or below it, links resolved.
bool inside(const std::string& path, const std::string& folder) {
    char* resolvedPath = ::realpath(path.c_str(), nullptr);
    char* resolvedFolder = ::realpath(folder.c_str(), nullptr);
    bool result = false;
    if (resolvedPath && resolvedFolder) {
        const std::string a = resolvedPath, b = resolvedFolder;
        result = a == b || a.starts_with(b + "/");
    }
    std::free(resolvedPath);
    std::free(resolvedFolder);
    return result;
}

// How many texts a batch may hold: the soft limit of descriptors raised to the hard one, less a
// margin for the program's own, shared by two batches' holds and one batch's copies.
std::size_t batchLimit() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 16;
    if (limit.rlim_cur < limit.rlim_max && limit.rlim_cur < 4 * Inbox::kMaxBatch) {
        limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 4 * Inbox::kMaxBatch);
        (void)::setrlimit(RLIMIT_NOFILE, &limit);
        (void)::getrlimit(RLIMIT_NOFILE, &limit);
    }
    const rlim_t usable = limit.rlim_cur > 64 ? (limit.rlim_cur - 32) / 3 : 1;
    return std::max<std::size_t>(1, std::min<std::size_t>(Inbox::kMaxBatch, usable));
}

}  // namespace

// ---- DeliveryFolder ----

std::optional<DeliveryFolder> DeliveryFolder::open(const std::string& path, std::string* problem) {
    if (path.empty()) {
        *problem = "the folder to deliver into is empty";
        return std::nullopt;
    }
    const std::string absolute = absolutePath(path);
    if (makeFolders(absolute) != 0) {
        *problem = failure("making " + path, errno);
        return std::nullopt;
    }
    Fd fd(::open(absolute.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) {
        *problem = failure("opening " + path, errno);
        return std::nullopt;
    }
    struct ::stat status {};
    if (::fstat(fd.get(), &status) != 0) {
        *problem = failure("checking " + path, errno);
        return std::nullopt;
    }
    return DeliveryFolder(absolute, fd.release(), status.st_dev, status.st_ino);
}

DeliveryFolder::DeliveryFolder(DeliveryFolder&& other) noexcept
    : path_(std::move(other.path_)),
      fd_(std::exchange(other.fd_, -1)),
      device_(other.device_),
      inode_(other.inode_) {}

DeliveryFolder& DeliveryFolder::operator=(DeliveryFolder&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        path_ = std::move(other.path_);
        fd_ = std::exchange(other.fd_, -1);
        device_ = other.device_;
        inode_ = other.inode_;
    }
    return *this;
}

DeliveryFolder::~DeliveryFolder() {
    if (fd_ >= 0)
        ::close(fd_);
}

// ---- HeldText ----

int HeldText::openSeparately() const {
    const std::string procPath = "/proc/self/fd/" + std::to_string(descriptor);
    int fd = ::open(procPath.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0 || errno != ENOENT)
        return fd;
    fd = ::open(text.path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct ::stat mine {
    }, theirs{};
    if (::fstat(fd, &mine) != 0 || ::fstat(descriptor, &theirs) != 0 || !sameFile(mine, theirs)) {
        ::close(fd);
        errno = ESTALE;
        return -1;
    }
    return fd;
}

// ---- Inbox ----

Inbox::Inbox(std::string root)
    : root_(std::move(root)), importFolder_(handover::importFolderPath(root_)) {}

std::optional<Listing> Inbox::list(std::string* problem, Titles titles) const {
    std::string why;
    Folders folders = openFolders(root_, &why);
    if (!why.empty()) {
        *problem = why;
        return std::nullopt;
    }
    Listing listing;
    if (folders.missing)
        return listing;
    DIR* dir = readEntries(folders.imported.get());
    if (!dir) {
        *problem = failure("reading " + importFolder_, errno);
        return std::nullopt;
    }
    // The names first, then each entry looked at (and its title read) by a few threads at
    // once: a folder of 100,000 texts costs 100,000 opens and reads, which the cores share.
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const struct dirent* entry = ::readdir(dir);
        if (!entry) {
            if (errno != 0) {
                *problem = failure("reading " + importFolder_, errno);
                ::closedir(dir);
                return std::nullopt;
            }
            break;
        }
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    ::closedir(dir);
    // What each entry turned out to be, kept small: a listing of 100,000 texts is sorted by
    // its order, and only then is each text's entry made, in place.
    struct Looked {
        enum class Kind : unsigned char { gone, skipped, text } kind = Kind::gone;
        struct timespec modified {};
        std::uint64_t bytes = 0;
    };
    std::vector<Looked> looked(names.size());
    std::vector<std::string> reasons(names.size());  // why skipped, or why a text cannot be taken
    std::vector<std::string> heads(titles == Titles::read ? names.size() : 0);  // titles
    const int imported = folders.imported.get();
    auto lookAt = [&](std::size_t first, std::size_t step) {
        std::string head(titles == Titles::read ? kTitleReadLimit : 0, '\0');
        for (std::size_t i = first; i < names.size(); i += step) {
            const std::string& name = names[i];
            Looked& result = looked[i];
            if (!isTextName(name)) {
                result.kind = Looked::Kind::skipped;
                reasons[i] = nameReason(name);
                continue;
            }
            struct ::stat status {};
            if (::fstatat(imported, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
                continue;  // taken meanwhile
            if (!S_ISREG(status.st_mode) || status.st_uid != ownUser()) {
                result.kind = Looked::Kind::skipped;
                reasons[i] = S_ISREG(status.st_mode) ? "belongs to another user (uid " +
                                                           std::to_string(status.st_uid) + ")"
                                                     : kindOf(status.st_mode);
                continue;
            }
            if (titles == Titles::read) {
                Fd fd(::openat(imported, name.c_str(),
                               O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
                if (!fd && noTextAnyMore(errno))
                    continue;  // taken (or replaced) meanwhile
                // A text that cannot be opened or read still waits: it is listed with why.
                // Replaced between the look and the open, the title may be another file's; the
                // next listing corrects it, and a hand-over holds and reads the file itself.
                const ssize_t got = fd ? readHead(fd.get(), head) : -1;
                if (got < 0)
                    reasons[i] = std::string(fd ? "cannot be read: " : "cannot be opened: ") +
                                 systemReason(errno);
                else
                    heads[i] =
                        titleOf(std::string_view(head.data(), static_cast<std::size_t>(got)));
            }
            result.kind = Looked::Kind::text;
            result.modified = status.st_mtim;
            result.bytes = static_cast<std::uint64_t>(status.st_size);
        }
    };
    shareOut(names.size(), 2048, lookAt);
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (looked[i].kind == Looked::Kind::skipped)
            listing.skipped.push_back({names[i], std::move(reasons[i])});
        else if (looked[i].kind == Looked::Kind::text)
            order.push_back(i);
    }
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const struct timespec& x = looked[a].modified;
        const struct timespec& y = looked[b].modified;
        if (x.tv_sec != y.tv_sec)
            return x.tv_sec < y.tv_sec;
        if (x.tv_nsec != y.tv_nsec)
            return x.tv_nsec < y.tv_nsec;
        return names[a] < names[b];
    });
    listing.texts.resize(order.size());
    for (std::size_t at = 0; at < order.size(); ++at) {
        const std::size_t i = order[at];
        WaitingText& text = listing.texts[at];
        text.path.reserve(importFolder_.size() + 1 + names[i].size());
        text.path.append(importFolder_).append("/").append(names[i]);
        text.id = std::move(names[i]);
        text.modified = looked[i].modified;
        text.bytes = looked[i].bytes;
        if (titles == Titles::read)
            text.title = std::move(heads[i]);
        text.problem = std::move(reasons[i]);
    }
    return listing;
}

std::vector<HandOver> Inbox::deliver(const std::vector<WaitingText>& texts,
                                     const DeliveryFolder& folder,
                                     const std::function<bool()>& keepGoing) {
    std::vector<HandOver> results;
    std::string problem;
    Folders folders = openFolders(root_, &problem);
    if (texts.empty()) {
        // Nothing to deliver; what killed readers left behind is still cleared.
        bool missing = false;
        Fd claims = folders.imported ? openOwnFolder(folders.regular.get(), kClaimsFolder, {},
                                                     &missing, &problem)
                                     : Fd();
        if (claims) {
            sweepAside(claims.get(), folders.imported.get());
            sweepRecords(claims.get(), folders.imported.get());
        }
        return results;
    }
    auto failAll = [&](std::size_t from, const std::string& why) {
        for (std::size_t i = from; i < texts.size(); ++i)
            results.push_back(
                {texts[i].id,
                 folders.missing && why.empty() ? Outcome::notWaiting : Outcome::failed,
                 {},
                 why});
        return results;
    };
    if (!problem.empty() || folders.missing)
        return failAll(0, problem);
    // Nothing of a reader's ever lands inside the import folder: delivering into it (or into a
    // folder below it) would make texts of deliveries.
    if (inside(folder.path(), importFolder_))
        return failAll(0, folder.path() + " is inside the import folder " + importFolder_ +
                              "; deliver into a folder of your own");
    const std::string claimsPath =
        handover::groupContainerPath(root_) + "/regular/" + kClaimsFolder;
    Fd claims = openClaims(folders.regular.get(), claimsPath, &problem);
    if (!claims)
        return failAll(0, problem);
    const int imported = folders.imported.get();
    sweepAside(claims.get(), imported);
    sweepRecords(claims.get(), imported);
    const int target = folder.descriptor();
    const std::size_t limit = batchLimit();

    // One text of a batch on its way.
    struct Step {
        const WaitingText* text;
        Hold held;
        std::optional<Copy> copy;
        Record record;
        unsigned copyNumber = 1;
        bool linked = false;
        std::size_t result;     // its index in `results`
        bool byRename = false;  // moved in one step (same file system), needing no record
        bool renamed = false;
    };
    // Whether the file system moves without replacing (renameat2 RENAME_NOREPLACE); where it
    // does not, each text is linked and removed under a record instead.
    bool renameWorks = true;
    // Whether the folder takes links; where it does not (FAT), each text is copied and the copy
    // renamed to its name without replacing anything (`noReplaceWorks`: in one step), under the
    // names such folders take.
    bool linksWork = true;
    bool noReplaceWorks = true;

    // While one batch is delivered, another thread holds the next and lets go of the last: the
    // moves wait on the folders, the holds on the files, and the two overlap.
    std::vector<Step> finished;
    auto holdAhead = [&](std::size_t from, std::size_t to, std::vector<Step> release) {
        auto task = [&texts, imported, from, to, release = std::move(release)]() mutable {
            release.clear();
            return holdBatch(imported, texts, from, to, false);
        };
        try {
            return std::async(std::launch::async, std::move(task));
        } catch (const std::system_error&) {
            // No thread to be had: the batch is held when it is wanted.
            return std::async(std::launch::deferred, std::move(task));
        }
    };
    std::future<HeldBatch> ahead;  // waited for (and its holds let go) when deliver ends
    for (std::size_t start = 0; start < texts.size(); start += limit) {
        if (keepGoing && !keepGoing())
            break;
        const std::size_t end = std::min(texts.size(), start + limit);
        const bool wholeSync = end - start >= kWholeFileSystemSync;
        std::vector<Step> steps;
        std::set<std::string> chosen;  // names this batch has taken in the folder
        auto fail = [&](Step& step, std::string why) {
            results[step.result].outcome = Outcome::failed;
            results[step.result].problem = std::move(why);
            if (!step.byRename)
                (void)::unlinkat(claims.get(), step.text->id.c_str(), 0);
            if (step.copy && !step.copy->partial.empty())
                (void)::unlinkat(target, step.copy->partial.c_str(), 0);
            step.copy.reset();
            step.held = Hold();
        };
        // The next free name for `step`, from its current copy number on. A move that never
        // replaces says itself when a name is taken, so only links look first.
        auto chooseName = [&](Step& step) {
            for (; step.copyNumber <= kMaxCopies; ++step.copyNumber) {
                std::string name = fileNameFor(results[step.result].title, step.copyNumber);
                if (!linksWork)
                    name = portableName(std::move(name));
                struct ::stat status {};
                if (chosen.count(name) ||
                    (!step.byRename &&
                     ::fstatat(target, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0))
                    continue;
                chosen.insert(name);
                step.record.name = std::move(name);
                return true;
            }
            return false;
        };

        // Hold each text (the next batch is held meanwhile). Records are written only by a
        // text's holder, so once the batch is held, one look at the records folder finds every
        // record that concerns it.
        if (!ahead.valid())
            finished.clear();  // the last batch's descriptors, before this one takes its own
        HeldBatch held = ahead.valid() ? ahead.get() : holdBatch(imported, texts, start, end, true);
        // Under a tight limit of descriptors (ulimit -n), one batch at a time: a batch held
        // ahead would find none left and fail its texts.
        if (end < texts.size() && limit >= kHoldAheadFrom)
            ahead = holdAhead(end, std::min(texts.size(), end + limit), std::move(finished));
        const std::optional<std::set<std::string>> recorded = entryNames(claims.get());
        // Finish what an earlier reader recorded, choose a name, make copies.
        for (std::size_t i = start; i < end; ++i) {
            const WaitingText& text = texts[i];
            results.push_back({text.id, Outcome::notWaiting, {}, {}});
            Step step{.text = &text,
                      .held = std::move(held.holds[i - start]),
                      .result = results.size() - 1};
            if (!step.held.fd) {
                reportNotHeld(step.held, results.back());
                continue;
            }
            const bool recordedHere = !recorded || recorded->count(text.id) != 0;
            step.byRename = renameWorks && step.held.status.st_dev == folder.device();
            // What is settled, linked or copied must still be the text of its name; a move of
            // the name finds that out itself.
            if ((recordedHere || !step.byRename) &&
                !stillNamed(imported, text.id, step.held.status))
                continue;
            HandOver& result = results.back();
            result.title = std::move(held.titles[i - start]);  // names are made from it
            std::string why;
            switch (recordedHere ? settle(claims.get(), text.id, &folder, step.held,
                                          &result.deliveredTo, &why)
                                 : Settled::nothingRecorded) {
                case Settled::delivered:
                    if (!removeHeld(imported, claims.get(), text.id, step.held.status)) {
                        result.outcome = Outcome::failed;
                        result.problem = failure("removing " + text.path, errno);
                        result.deliveredTo.clear();
                        continue;
                    }
                    result.outcome = Outcome::handedOver;
                    step.linked = false;
                    step.byRename = false;
                    steps.push_back(std::move(step));  // its removal is synced with the batch
                    steps.back().record.name.clear();
                    continue;
                case Settled::failed:
                    result.outcome = Outcome::failed;
                    result.problem = why;
                    continue;
                case Settled::nothingRecorded:
                    break;
            }
            result.outcome = Outcome::handedOver;  // until something fails
            step.record.folderDevice = folder.device();
            step.record.folderInode = folder.inode();
            step.record.folderPath = folder.path();
            // A move chooses its name when it is made, in order, so that of texts with one title
            // the oldest gets the first free name.
            if (!step.byRename && !chooseName(step)) {
                fail(step, "no free name for " + text.id + " in " + folder.path());
                continue;
            }
            step.record.fileDevice = step.held.status.st_dev;
            step.record.fileInode = step.held.status.st_ino;
            if (step.held.status.st_dev != folder.device()) {
                step.copy = copyInto(step.held, target, folder.path(), text.id, !wholeSync, &why);
                if (!step.copy) {
                    fail(step, why);
                    continue;
                }
            }
            steps.push_back(std::move(step));
        }

        // Record each choice; the records (and copies) are durable before any link.
        bool anyRecord = false;
        for (Step& step : steps) {
            if (results[step.result].outcome != Outcome::handedOver || step.record.name.empty() ||
                step.byRename)
                continue;
            struct ::stat status {};
            const int linkedFd = step.copy ? step.copy->fd.get() : step.held.fd.get();
            if (::fstat(linkedFd, &status) != 0) {
                fail(step, failure("checking the copy of " + step.text->id, errno));
                continue;
            }
            step.record.fileDevice = status.st_dev;
            step.record.fileInode = status.st_ino;
            const std::string why =
                writeRecord(claims.get(), step.text->id, step.record, !wholeSync);
            if (!why.empty()) {
                fail(step, why);
                continue;
            }
            anyRecord = true;
        }
        if (anyRecord) {
            int synced = wholeSync ? ::syncfs(claims.get()) : syncRetrying(claims.get());
            if (synced == 0 && wholeSync) {
                struct ::stat claimsStatus {};
                if (::fstat(claims.get(), &claimsStatus) == 0 &&
                    claimsStatus.st_dev != folder.device())
                    synced = ::syncfs(target);
            }
            if (synced != 0) {
                const std::string why =
                    failure("syncing the delivery records in " + claimsPath, errno);
                for (Step& step : steps)
                    if (results[step.result].outcome == Outcome::handedOver &&
                        !step.record.name.empty())
                        fail(step, why);
            }
        }

        // Link each into the folder, under the chosen name or the next free one.
        bool anyLinked = false;
        for (Step& step : steps) {
            if (results[step.result].outcome != Outcome::handedOver ||
                (step.record.name.empty() && !step.byRename))
                continue;
            // On one file system the text moves in one atomic step, never replacing anything:
            // it is in the import folder or in the folder, whenever the reader is stopped. A
            // name found taken stays among the chosen, so no later text tries it again.
            while (step.byRename) {
                if (step.record.name.empty() && !chooseName(step)) {
                    fail(step, "no free name for " + step.text->id + " in " + folder.path());
                    break;
                }
                if (::renameat2(imported, step.text->id.c_str(), target, step.record.name.c_str(),
                                RENAME_NOREPLACE) == 0) {
                    // The name was moved, not the file held: check that they are one. Anything
                    // renamed over the name since the hold (a link, a newer version) goes back,
                    // and this round gives the text up; what waits now is newer.
                    struct ::stat moved {};
                    if (::fstatat(target, step.record.name.c_str(), &moved, AT_SYMLINK_NOFOLLOW) !=
                            0 ||
                        sameFile(moved, step.held.status)) {
                        step.renamed = true;
                    } else {
                        putBack(target, step.record.name, imported, step.text->id);
                        results[step.result].outcome = Outcome::notWaiting;
                        step.held = Hold();
                    }
                    break;
                }
                const int error = errno;
                if (error == EEXIST) {
                    ++step.copyNumber;
                    if (!chooseName(step))
                        fail(step, "no free name for " + step.text->id + " in " + folder.path());
                    else
                        continue;
                } else if (!stillNamed(imported, step.text->id, step.held.status)) {
                    // Taken by a reader that held it before us, between our open and our lock.
                    results[step.result].outcome = Outcome::notWaiting;
                    step.held = Hold();
                } else if (error == EINVAL || error == ENOSYS || error == EOPNOTSUPP ||
                           error == EXDEV) {
                    // No such move here: link under a record, synced before the link.
                    renameWorks = renameWorks && error == EXDEV;
                    step.byRename = false;
                    std::string why = writeRecord(claims.get(), step.text->id, step.record, true);
                    if (why.empty() && syncRetrying(claims.get()) != 0)
                        why = failure("syncing the delivery records in " + claimsPath, errno);
                    if (!why.empty())
                        fail(step, why);
                } else {
                    fail(step, failure("moving " + step.text->id + " to " + folder.path() + "/" +
                                           step.record.name,
                                       error));
                }
                break;
            }
            if (step.renamed) {
                step.linked = true;
                anyLinked = true;
                results[step.result].deliveredTo = folder.path() + "/" + step.record.name;
                continue;
            }
            if (results[step.result].outcome != Outcome::handedOver)
                continue;
            for (;;) {
                const int source = step.copy ? step.copy->fd.get() : step.held.fd.get();
                if (step.copy && !step.copy->partial.empty()) {
                    if (linksWork && ::linkat(target, step.copy->partial.c_str(), target,
                                              step.record.name.c_str(), 0) == 0) {
                        (void)::unlinkat(target, step.copy->partial.c_str(), 0);
                        break;
                    }
                    if (!linksWork || linksRefused(errno)) {
                        linksWork = false;
                        // A name chosen for a folder with links may hold what this one refuses:
                        // it is chosen again.
                        if (portableName(step.record.name) != step.record.name) {
                            chosen.erase(step.record.name);
                            if (!chooseName(step)) {
                                fail(step,
                                     "no free name for " + step.text->id + " in " + folder.path());
                                break;
                            }
                            const std::string why =
                                writeRecord(claims.get(), step.text->id, step.record, true);
                            if (!why.empty()) {
                                fail(step, why);
                                break;
                            }
                        }
                        if (renameNoReplace(target, step.copy->partial, step.record.name,
                                            &noReplaceWorks) == 0)
                            break;
                    }
                } else if (linkDescriptor(source, target, step.record.name) == 0) {
                    break;
                }
                const int error = errno;
                std::string why;
                if (error == EEXIST) {
                    ++step.copyNumber;
                    if (!chooseName(step)) {
                        fail(step, "no free name for " + step.text->id + " in " + folder.path());
                        break;
                    }
                } else if (error == ENOENT && !step.copy) {
                    // The held file has no name left: something was renamed over it since the
                    // hold. This round gives the text up; what waits now is newer.
                    results[step.result].outcome = Outcome::notWaiting;
                    (void)::unlinkat(claims.get(), step.text->id.c_str(), 0);
                    step.held = Hold();
                    break;
                } else if ((error == EXDEV || linksRefused(error)) && !step.copy) {
                    // Same device, other mount (a bind mount), or a folder without links: copy
                    // after all.
                    step.copy =
                        copyInto(step.held, target, folder.path(), step.text->id, true, &why);
                    if (!step.copy) {
                        fail(step, why);
                        break;
                    }
                    struct ::stat status {};
                    (void)::fstat(step.copy->fd.get(), &status);
                    step.record.fileDevice = status.st_dev;
                    step.record.fileInode = status.st_ino;
                } else {
                    fail(step, failure((linksWork ? "linking " + step.text->id + " into "
                                                  : "naming the copy of " + step.text->id + " ") +
                                           folder.path() + "/" + step.record.name,
                                       error));
                    break;
                }
                why = writeRecord(claims.get(), step.text->id, step.record, true);
                if (!why.empty()) {
                    fail(step, why);
                    break;
                }
            }
            if (results[step.result].outcome == Outcome::handedOver) {
                step.linked = true;
                anyLinked = true;
                results[step.result].deliveredTo = folder.path() + "/" + step.record.name;
            }
        }
        if (anyLinked && syncRetrying(target) != 0) {
            // The links may not be durable: the texts stay waiting, and their records let the
            // next reader finish without a second copy.
            const std::string why = failure("syncing " + folder.path(), errno);
            for (Step& step : steps) {
                if (step.renamed) {
                    // Moved already: it is in the folder, but may not stay there after a
                    // power cut; said so, with where it is.
                    results[step.result].outcome = Outcome::failed;
                    results[step.result].problem = why;
                } else if (step.linked) {
                    results[step.result].outcome = Outcome::failed;
                    results[step.result].problem = why;
                    step.linked = false;
                    step.record.name.clear();
                }
            }
        }

        // Only now does each delivered text leave the import folder.
        bool anyRemoved = false;
        for (Step& step : steps) {
            if (step.renamed) {
                anyRemoved = true;
                continue;
            }
            if (!step.linked)
                continue;
            if (!removeHeld(imported, claims.get(), step.text->id, step.held.status)) {
                results[step.result].outcome = Outcome::failed;
                results[step.result].problem =
                    failure("removing " + step.text->path + " after delivering it to " +
                                results[step.result].deliveredTo,
                            errno);
                step.record.name.clear();  // its record makes the next reader finish this
                continue;
            }
            anyRemoved = true;
        }
        for (const Step& step : steps)
            if (results[step.result].outcome == Outcome::handedOver && !step.linked)
                anyRemoved = true;  // removed when its earlier delivery was settled
        if (anyRemoved && syncRetrying(imported) != 0) {
            // The removals may not be durable; the records stay so a text that comes back after
            // a power cut is settled, not delivered twice.
            for (Step& step : steps)
                step.record.name.clear();
        } else {
            for (Step& step : steps)
                if (results[step.result].outcome == Outcome::handedOver && !step.renamed)
                    (void)::unlinkat(claims.get(), step.text->id.c_str(), 0);
        }
        finished = std::move(steps);
    }
    return results;
}

HandOver Inbox::take(const WaitingText& text, const std::function<bool(const HeldText&)>& consume) {
    std::string problem;
    Folders folders = openFolders(root_, &problem);
    if (!problem.empty())
        return {text.id, Outcome::failed, {}, problem};
    if (folders.missing)
        return {text.id, Outcome::notWaiting, {}, {}};
    const int imported = folders.imported.get();
    Hold held = hold(imported, text.id, text.path);
    if (!held.fd) {
        HandOver result{text.id};
        reportNotHeld(held, result);
        return result;
    }
    // A record exists only if a delivery into a folder was under way: settle it first. The
    // records folder is also where the name is set aside when the text leaves.
    const std::string claimsPath =
        handover::groupContainerPath(root_) + "/regular/" + kClaimsFolder;
    bool missing = false;
    std::string why;
    Fd claims = openOwnFolder(folders.regular.get(), kClaimsFolder, claimsPath, &missing, &why);
    if (!claims && !missing)
        return {text.id, Outcome::failed, {}, why};
    // Made when missing, for setting names aside; where it cannot be made, no record exists
    // either, and the name is looked at just before it is removed.
    if (missing)
        claims = openClaims(folders.regular.get(), claimsPath, &why);
    std::string deliveredTo;
    switch (claims ? settle(claims.get(), text.id, nullptr, held, &deliveredTo, &why)
                   : Settled::nothingRecorded) {
        case Settled::failed:
            return {text.id, Outcome::failed, {}, why};
        case Settled::delivered:
            if (!removeHeld(imported, claims.get(), text.id, held.status) ||
                syncRetrying(imported) != 0)
                return {text.id, Outcome::failed, {}, failure("removing " + text.path, errno)};
            (void)::unlinkat(claims.get(), text.id.c_str(), 0);
            return {text.id, Outcome::handedOver, deliveredTo, {}};
        case Settled::nothingRecorded:
            break;
    }
    if (!consume(HeldText{text, held.fd.get()}))
        return {text.id, Outcome::kept, {}, {}};
    // Whatever was renamed over the name while the consumer had the text stays waiting.
    if (!removeHeld(imported, claims.get(), text.id, held.status))
        return {text.id, Outcome::failed, {}, failure("removing " + text.path, errno)};
    if (syncRetrying(imported) != 0)
        return {text.id, Outcome::failed, {}, failure("syncing " + importFolder_, errno)};
    return {text.id, Outcome::handedOver, {}, {}};
}

void Inbox::tidy() {
    std::string problem;
    Folders folders = openFolders(root_, &problem);
    if (!folders.imported)
        return;
    bool missing = false;
    Fd claims = openOwnFolder(folders.regular.get(), kClaimsFolder, {}, &missing, &problem);
    if (!claims)
        return;
    sweepAside(claims.get(), folders.imported.get());
    sweepRecords(claims.get(), folders.imported.get());
}

// ---- FolderWatch ----

FolderWatch::FolderWatch(std::string importFolder)
    : importFolder_(std::move(importFolder)), fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

FolderWatch::~FolderWatch() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool FolderWatch::arm(std::string* problem) {
    return armAt(problem, 0);
}

bool FolderWatch::armAt(std::string* problem, int depth) {
    if (fd_ < 0) {
        *problem = failure("watching " + importFolder_, errno);
        return false;
    }
    // The folder itself when it is there, and its parent (which sees it replaced by a link or
    // a file); else the nearest existing parent, for the next folder of the path to appear.
    // Adding a watch to what is watched already keeps its number, so only watches of what is
    // no longer watched are removed (each removal queues one IN_IGNORED, which wait() skips).
    constexpr std::uint32_t kLanded =
        IN_CREATE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW;
    constexpr std::uint32_t kParent =
        IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM | IN_ONLYDIR | IN_DONT_FOLLOW;
    std::vector<int> armed;
    std::string path = importFolder_;
    for (;;) {
        const int watch = ::inotify_add_watch(fd_, path.c_str(), kLanded);
        if (watch >= 0) {
            armed.push_back(watch);
            if (path == importFolder_) {
                const std::string parent = path.substr(0, path.rfind('/'));
                const int up = ::inotify_add_watch(fd_, parent.c_str(), kParent);
                if (up >= 0 && up != watch)
                    armed.push_back(up);
            }
            break;
        }
        if (errno != ENOENT && errno != ENOTDIR && errno != EACCES) {
            *problem = failure("watching " + path, errno);
            return false;
        }
        const std::size_t slash = path.rfind('/');
        if (slash == std::string::npos || path == "/") {
            *problem = "nothing of " + importFolder_ + " can be watched";
            return false;
        }
        path = slash == 0 ? "/" : path.substr(0, slash);
    }
    for (const int watch : watches_)
        if (std::find(armed.begin(), armed.end(), watch) == armed.end())
            (void)::inotify_rm_watch(fd_, watch);
    watches_ = std::move(armed);
    // The next folder of the path may have been made after it was found missing and before its
    // parent was watched: its making was then seen by nobody, and nothing more would wake a
    // wait for what lands inside it. Look once more, and watch deeper when it is there.
    if (path != importFolder_) {
        const std::size_t end = importFolder_.find('/', path == "/" ? 1 : path.size() + 1);
        const std::string next = importFolder_.substr(0, end);
        struct ::stat status {};
        if (::lstat(next.c_str(), &status) == 0 && depth < 64)
            return armAt(problem, depth + 1);
    }
    return true;
}

bool FolderWatch::wait(int timeoutMs, int otherFd) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        int left = timeoutMs;
        if (timeoutMs >= 0) {
            left = static_cast<int>(
                std::max<long long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(
                                           deadline - std::chrono::steady_clock::now())
                                           .count()));
        }
        struct pollfd fds[2] = {{fd_, POLLIN, 0}, {otherFd, POLLIN, 0}};
        const int ready = ::poll(fds, otherFd >= 0 ? 2 : 1, left);
        if (ready <= 0 || !(fds[0].revents & POLLIN))
            return false;
        // Only the end of a watch this object removed itself is no news.
        bool news = false;
        alignas(struct inotify_event) char buffer[16384];
        ssize_t got = 0;
        while ((got = ::read(fd_, buffer, sizeof buffer)) > 0) {
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + at);
                const bool removedHere =
                    (event->mask & IN_IGNORED) &&
                    std::find(watches_.begin(), watches_.end(), event->wd) == watches_.end();
                news = news || !removedHere;
                at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
            }
        }
        if (news)
            return true;
    }
}

}  // namespace reader
