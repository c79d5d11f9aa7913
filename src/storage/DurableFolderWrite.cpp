#include "storage/DurableFolderWrite.h"

#include "handover/FolderWalk.h"
#include "handover/ShareContract.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <vector>

#include "platform/foundation/SystemCalls.h"
#include "platform/foundation/UUID.h"

namespace quorvane {
namespace {

using handover::Descriptor;
using handover::FolderWalk;
using handover::WalkFailure;
using platform::PlatformError;
using platform::SystemCalls;

// How many fresh UUIDs a write tries before it gives up on finding a free name.
constexpr int kNameAttempts = 16;
// Largest single write request. A large text goes to the kernel in pieces of a megabyte: one
// write of a hundred megabytes was measured to cost several times what the same bytes cost in
// such pieces.
constexpr std::size_t kWriteChunk = std::size_t{1} << 20;
// Every few megabytes of a large text, the disk is told to start on what was written so far,
// while the rest is still being written: the sync at the end then waits only for the last
// few megabytes, not for the whole text (a whole 100 MB send was measured to take a fifth
// less time). Smaller texts are synced as before.
constexpr std::size_t kWriteBackStart = std::size_t{4} << 20;

// Thrown inside this file only, and turned into the result at the top.
struct WriteFailure {
    PlatformError error;
};

[[noreturn]] void failWith(int errorNumber, const std::string& what) {
    throw WriteFailure{PlatformError::posix(errorNumber, what)};
}

// A refusal the system call itself did not report: `code` says what kind, `description` what
// and why, naming the entry.
[[noreturn]] void refuse(int code, const std::string& description) {
    PlatformError error = PlatformError::posix(code, description);
    error.userInfo[PlatformError::kLocalizedDescriptionKey] = description;
    throw WriteFailure{error};
}

// Turns a step of the walk that failed into the write's failure: a refusal in words of its
// own, a failed call with the step and the system's reason.
[[noreturn]] void failWalk(const WalkFailure& failure) {
    if (!failure.refused())
        failWith(failure.error, failure.what);
    refuse(failure.error, failure.sentence());
}

// The folder `name` in `parent`, made owner-only when missing, as the walk makes its folders.
Descriptor openOwnFolder(int parent, const std::string& name, const std::string& shownPath) {
    WalkFailure failure;
    Descriptor folder =
        FolderWalk(SystemCalls::current()).makeOwn(parent, name, shownPath, &failure);
    if (!folder)
        failWalk(failure);
    return folder;
}

void setOwnerOnly(int fd, mode_t mode, const std::string& shownPath) {
    WalkFailure failure;
    if (!FolderWalk(SystemCalls::current()).setOwnerOnly(fd, mode, shownPath, &failure))
        failWalk(failure);
}

void syncFolder(int fd, const std::string& shownPath) {
    if (SystemCalls::current().fsync(fd) != 0) {
        const int saved = errno;
        failWith(saved, "syncing folder " + shownPath);
    }
}

void writeAll(int fd, std::string_view bytes, const std::string& shownPath) {
    std::size_t written = 0;     // bytes handed to the kernel so far
    std::size_t handedOver = 0;  // of those, the ones the disk was told to start on
    while (!bytes.empty()) {
        if (written - handedOver >= kWriteBackStart) {
            // Only a hint: the sync below still waits for every byte and reports any failure,
            // so an error here changes nothing.
            (void)::sync_file_range(fd, static_cast<off64_t>(handedOver),
                                    static_cast<off64_t>(written - handedOver),
                                    SYNC_FILE_RANGE_WRITE);
            handedOver = written;
        }
        const ssize_t wrote =
            SystemCalls::current().write(fd, bytes.data(), std::min(bytes.size(), kWriteChunk));
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote < 0) {
            const int saved = errno;
            failWith(saved, "writing " + shownPath);
        }
        if (wrote == 0)
            failWith(EIO, "writing " + shownPath + " (no progress)");
        bytes.remove_prefix(static_cast<std::size_t>(wrote));
        written += static_cast<std::size_t>(wrote);
    }
    // A failed fsync must never be retried on the same descriptor: the data it failed to
    // write may already be dropped. The caller writes again (or gives up) instead.
    if (SystemCalls::current().fsync(fd) != 0) {
        const int saved = errno;
        failWith(saved, "syncing " + shownPath);
    }
}

std::string newName() {
    PlatformError error;
    const auto uuid = platform::UUID::generate(&error);
    if (!uuid)
        throw WriteFailure{error};
    return uuid->uuidString();
}

// Gives the unnamed file `fd` a free UUID name in `folder`. Returns the name, or none when the
// file system cannot link an unnamed file (the caller then stages instead).
std::optional<std::string> linkUnnamed(int fd, int folder, const std::string& shownFolder) {
    const std::string procPath = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string name = newName();
        int result = SystemCalls::current().linkat(AT_FDCWD, procPath.c_str(), folder, name.c_str(),
                                                   AT_SYMLINK_FOLLOW);
        if (result != 0 && errno == ENOENT) {
            // No /proc: link the descriptor itself (needs the right to do so).
            result = SystemCalls::current().linkat(fd, "", folder, name.c_str(), AT_EMPTY_PATH);
        }
        if (result == 0)
            return name;
        if (errno == EEXIST)
            continue;
        if (errno == ENOENT || errno == EPERM || errno == EOPNOTSUPP)
            return std::nullopt;
        {
            const int saved = errno;
            failWith(saved, "naming the new file in " + shownFolder);
        }
    }
    failWith(EEXIST, "naming the new file in " + shownFolder + " (every name tried was taken)");
}

// ---- the staging folder ----
//
// A writer makes its file in the staging folder under "<UUID>.claim", takes an exclusive lock
// on it, and only then renames it to "<UUID>.partial"; it holds the lock until the file is
// moved into the import folder. The sweep removes only "<UUID>.partial" files that nobody
// holds, so a staged file is claimed before it can be seen under a name the sweep takes: no
// writer can sweep another's file between its creation and its lock, however the two
// interleave. (Taking the lock on the very call that creates the file is not possible; a grace
// period would only make the race unlikely, not impossible.) A writer that dies between
// creating and renaming its file leaves an empty "<UUID>.claim"; the sweep removes such a file
// only when nobody holds it and it is older than kClaimGrace, far longer than that one step.
constexpr std::string_view kStagedSuffix = ".partial";
constexpr std::string_view kClaimSuffix = ".claim";
constexpr time_t kClaimGrace = 15 * 60;

// Whether `name` is the UUID name with `suffix` that this file gives its staged files.
bool hasStagingForm(std::string_view name, std::string_view suffix) {
    return name.size() == 36 + suffix.size() && name.substr(36) == suffix &&
           handover::isTextName(name.substr(0, 36));
}

bool sameFile(const struct ::stat& a, const struct ::stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Removes the staged file `name` when it is one a dead writer left. It must have a staging
// name, be a regular file of this user (never a link, FIFO, device or folder: those are looked
// at without being opened), and be unlocked; it is opened without following links and without
// blocking, and removed only if the name still refers to the file that was locked.
void sweepIfStale(int staging, const std::string& name, time_t now) {
    SystemCalls& calls = SystemCalls::current();
    const bool staged = hasStagingForm(name, kStagedSuffix);
    if (!staged && !hasStagingForm(name, kClaimSuffix))
        return;
    struct ::stat listed {};
    if (calls.fstatat(staging, name.c_str(), &listed, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(listed.st_mode) || listed.st_uid != ::geteuid())
        return;
    if (!staged && listed.st_mtime + kClaimGrace >= now)
        return;
    Descriptor file(calls.openat(staging, name.c_str(),
                                 O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0),
                    calls);
    if (file.get() < 0)
        return;
    struct ::stat opened {};
    if (calls.fstatat(file.get(), "", &opened, AT_EMPTY_PATH) != 0 || !S_ISREG(opened.st_mode) ||
        !sameFile(opened, listed))
        return;
    if (calls.flock(file.get(), LOCK_EX | LOCK_NB) != 0)
        return;
    struct ::stat current {};
    if (calls.fstatat(staging, name.c_str(), &current, AT_SYMLINK_NOFOLLOW) == 0 &&
        sameFile(current, opened))
        (void)calls.unlinkat(staging, name.c_str(), 0);
}

void sweepStaleStagedFiles(int staging) {
    std::vector<std::string> names;
    const int listing =
        SystemCalls::current().openat(staging, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (listing < 0)
        return;
    (void)SystemCalls::current().listDirectory(
        listing,
        [](const char* name, void* context) {
            static_cast<std::vector<std::string>*>(context)->emplace_back(name);
        },
        &names);
    const time_t now = ::time(nullptr);
    for (const std::string& name : names)
        sweepIfStale(staging, name, now);
}

// Renames `from` to `to` in `fromFolder`/`toFolder`, never replacing an entry: 0, or -1 with
// errno (EEXIST when `to` is taken).
int renameNoReplace(int fromFolder, const std::string& from, int toFolder, const std::string& to) {
    SystemCalls& calls = SystemCalls::current();
    if (calls.renameat2(fromFolder, from.c_str(), toFolder, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return -1;
    // No renameat2 flags here: a hard link never replaces either; then drop the old name.
    if (calls.linkat(fromFolder, from.c_str(), toFolder, to.c_str(), 0) == 0) {
        (void)calls.unlinkat(fromFolder, from.c_str(), 0);
        return 0;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS)
        return -1;
    // Neither (FAT through FUSE, for one): a plain rename once the name is seen to be free.
    // `to` is a fresh random UUID name, so only a writer drawing the same 122 random bits in
    // this instant could be replaced.
    struct ::stat existing {};
    if (calls.fstatat(toFolder, to.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return -1;
    }
    if (errno != ENOENT)
        return -1;
    return calls.renameat2(fromFolder, from.c_str(), toFolder, to.c_str(), 0);
}

// Moves `staged` from `staging` into `folder` under a free UUID name, never replacing an entry.
std::string moveIn(int staging, const std::string& staged, int folder,
                   const std::string& shownFolder) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string name = newName();
        if (renameNoReplace(staging, staged, folder, name) == 0)
            return name;
        if (errno == EEXIST)
            continue;
        const int saved = errno;
        if (saved == EXDEV) {
            refuse(EXDEV, shownFolder +
                              " is on a file system of its own, which holds no unnamed files, "
                              "and its staging folder beside it is on another: a file cannot be "
                              "moved in whole, so nothing was saved");
        }
        failWith(saved, "moving the new file into " + shownFolder);
    }
    failWith(EEXIST, "moving the new file into " + shownFolder + " (every name tried was taken)");
}

std::string writeThroughStaging(int parent, const std::string& folderName, int folder,
                                std::string_view bytes, const std::string& shownFolder) {
    SystemCalls& calls = SystemCalls::current();
    const std::string stagingName = "." + folderName + "-staging";
    const std::string shownStaging =
        shownFolder.substr(0, shownFolder.rfind('/') + 1) + stagingName;
    Descriptor staging = openOwnFolder(parent, stagingName, shownStaging);
    sweepStaleStagedFiles(staging.get());

    std::string id;
    std::string held;  // the file's name in the staging folder, removed on failure
    Descriptor file(-1, calls);
    for (int attempt = 0; attempt < kNameAttempts && file.get() < 0; ++attempt) {
        id = newName();
        held = id + std::string(kClaimSuffix);
        file.reset(calls.openat(staging.get(), held.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (file.get() < 0 && errno != EEXIST) {
            const int saved = errno;
            failWith(saved, "creating a staged file in " + shownStaging);
        }
    }
    if (file.get() < 0)
        failWith(EEXIST, "creating a staged file in " + shownStaging);
    try {
        if (calls.flock(file.get(), LOCK_EX) != 0) {
            const int saved = errno;
            failWith(saved, "locking the staged file");
        }
        const std::string staged = id + std::string(kStagedSuffix);
        const std::string shownStaged = shownStaging + "/" + staged;
        setOwnerOnly(file.get(), 0600, shownStaged);
        if (renameNoReplace(staging.get(), held, staging.get(), staged) != 0) {
            const int saved = errno;
            failWith(saved, "naming the staged file " + shownStaged);
        }
        held = staged;
        writeAll(file.get(), bytes, shownStaged);
        std::string name = moveIn(staging.get(), staged, folder, shownFolder);
        held.clear();
        try {
            syncFolder(folder, shownFolder);
        } catch (const WriteFailure&) {
            (void)calls.unlinkat(folder, name.c_str(), 0);
            throw;
        }
        // The staged name is gone from the staging folder; recording that is not needed for
        // the new file's safety, so a failure here changes nothing.
        (void)calls.fsync(staging.get());
        return name;
    } catch (const WriteFailure&) {
        if (!held.empty())
            (void)calls.unlinkat(staging.get(), held.c_str(), 0);
        throw;
    }
}

bool tmpfileUnsupported(int errorNumber) {
    return errorNumber == EOPNOTSUPP || errorNumber == EISDIR || errorNumber == EINVAL;
}

}  // namespace

DurableWriteResult writeNewFileDurably(const std::string& container, const std::string& folder,
                                       std::string_view bytes, StagingMode mode) {
    try {
        // The folder holding the container may be a link (a person may keep it on another
        // disk); the container and everything below it are never reached through one, and are
        // used only when they are this user's: whoever can write the folder above could
        // otherwise plant a link to another folder of this user's and have it changed.
        SystemCalls& calls = SystemCalls::current();
        WalkFailure failure;
        handover::WalkedFolder walked =
            FolderWalk(calls).down(container, folder, handover::Missing::make, &failure);
        if (!walked.folder)
            failWalk(failure);
        const std::string& shownPath = walked.shown;
        Descriptor& parent = walked.parent;
        Descriptor& target = walked.folder;
        if (mode == StagingMode::automatic) {
            Descriptor file(calls.openat(target.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600),
                            calls);
            if (file.get() >= 0) {
                setOwnerOnly(file.get(), 0600, "a new file in " + shownPath);
                writeAll(file.get(), bytes, "a new file in " + shownPath);
                if (auto name = linkUnnamed(file.get(), target.get(), shownPath)) {
                    try {
                        syncFolder(target.get(), shownPath);
                    } catch (const WriteFailure&) {
                        (void)calls.unlinkat(target.get(), name->c_str(), 0);
                        throw;
                    }
                    return {std::move(name), std::nullopt};
                }
            } else if (!tmpfileUnsupported(errno)) {
                {
                    const int saved = errno;
                    failWith(saved, "creating a new file in " + shownPath);
                }
            }
        }
        return {writeThroughStaging(parent.get(), walked.name, target.get(), bytes, shownPath),
                std::nullopt};
    } catch (const WriteFailure& failure) {
        return {std::nullopt, failure.error};
    }
}

}  // namespace quorvane
