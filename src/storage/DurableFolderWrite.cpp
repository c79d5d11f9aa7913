#include "storage/DurableFolderWrite.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/foundation/SystemCalls.h"
#include "platform/foundation/UUID.h"

namespace quorvane {
namespace {

using platform::PlatformError;
using platform::SystemCalls;

// How many fresh UUIDs a write tries before it gives up on finding a free name.
constexpr int kNameAttempts = 16;
// Largest single write request; large texts are written in several.
constexpr std::size_t kWriteChunk = std::size_t{1} << 30;

// Thrown inside this file only, and turned into the result at the top.
struct WriteFailure {
    PlatformError error;
};

[[noreturn]] void failWith(int errorNumber, const std::string& what) {
    throw WriteFailure{PlatformError::posix(errorNumber, what)};
}

// An open descriptor, closed when the scope ends.
class Descriptor {
  public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(other.release()) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        reset(other.release());
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { reset(); }

    [[nodiscard]] int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1) {
        if (fd_ >= 0)
            SystemCalls::current().close(fd_);
        fd_ = fd;
    }

  private:
    int fd_;
};

Descriptor openFolder(int parent, const std::string& name, const std::string& shownPath) {
    const int fd =
        SystemCalls::current().openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0) {
        const int saved = errno;
        failWith(saved, "opening folder " + shownPath);
    }
    return Descriptor(fd);
}

void syncFolder(int fd, const std::string& shownPath) {
    if (SystemCalls::current().fsync(fd) != 0) {
        const int saved = errno;
        failWith(saved, "syncing folder " + shownPath);
    }
}

// Opens `name` inside `parent`, making it (owner-only) when missing; a folder made here is
// recorded durably by syncing its parent.
Descriptor openOrMakeFolder(int parent, const std::string& name, const std::string& shownPath) {
    if (SystemCalls::current().mkdirat(parent, name.c_str(), 0700) == 0) {
        syncFolder(parent, shownPath + "/..");
    } else if (errno != EEXIST) {
        {
            const int saved = errno;
            failWith(saved, "creating folder " + shownPath);
        }
    }
    return openFolder(parent, name, shownPath);
}

std::vector<std::string> pathComponents(const std::string& path) {
    std::vector<std::string> components;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t slash = std::min(path.find('/', start), path.size());
        if (slash > start)
            components.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return components;
}

void writeAll(int fd, std::string_view bytes, const std::string& shownPath) {
    while (!bytes.empty()) {
        const ssize_t written =
            SystemCalls::current().write(fd, bytes.data(), std::min(bytes.size(), kWriteChunk));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0) {
            const int saved = errno;
            failWith(saved, "writing " + shownPath);
        }
        if (written == 0)
            failWith(EIO, "writing " + shownPath + " (no progress)");
        bytes.remove_prefix(static_cast<std::size_t>(written));
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

// A staged file that no living writer holds (its writer died) is removed. Writers hold an
// exclusive lock on their staged file until it is moved in.
void sweepStaleStagedFiles(int staging) {
    struct Context {
        std::vector<std::string> names;
    } context;
    const int listing =
        SystemCalls::current().openat(staging, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (listing < 0)
        return;
    (void)SystemCalls::current().listDirectory(
        listing,
        [](const char* name, void* c) { static_cast<Context*>(c)->names.emplace_back(name); },
        &context);
    for (const std::string& name : context.names) {
        Descriptor staged(SystemCalls::current().openat(staging, name.c_str(),
                                                        O_RDONLY | O_CLOEXEC | O_NOFOLLOW, 0));
        if (staged.get() < 0)
            continue;
        if (SystemCalls::current().flock(staged.get(), LOCK_EX | LOCK_NB) == 0) {
            (void)SystemCalls::current().unlinkat(staging, name.c_str(), 0);
        }
    }
}

// Moves `staged` from `staging` into `folder` under a free UUID name, never replacing an entry.
std::string moveIn(int staging, const std::string& staged, int folder,
                   const std::string& shownFolder) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string name = newName();
        if (SystemCalls::current().renameat2(staging, staged.c_str(), folder, name.c_str(),
                                             RENAME_NOREPLACE) == 0) {
            return name;
        }
        if (errno == EEXIST)
            continue;
        if (errno != EINVAL && errno != ENOSYS) {
            const int saved = errno;
            failWith(saved, "moving the new file into " + shownFolder);
        }
        // No renameat2 here: a hard link never replaces either; then drop the staged name.
        if (SystemCalls::current().linkat(staging, staged.c_str(), folder, name.c_str(), 0) == 0) {
            (void)SystemCalls::current().unlinkat(staging, staged.c_str(), 0);
            return name;
        }
        if (errno == EEXIST)
            continue;
        {
            const int saved = errno;
            failWith(saved, "moving the new file into " + shownFolder);
        }
    }
    failWith(EEXIST, "moving the new file into " + shownFolder + " (every name tried was taken)");
}

std::string writeThroughStaging(int parent, const std::string& folderName, int folder,
                                std::string_view bytes, const std::string& shownFolder) {
    const std::string stagingName = "." + folderName + "-staging";
    const std::string shownStaging = shownFolder + "/../" + stagingName;
    Descriptor staging = openOrMakeFolder(parent, stagingName, shownStaging);
    sweepStaleStagedFiles(staging.get());

    std::string staged;
    Descriptor file;
    for (int attempt = 0; attempt < kNameAttempts && file.get() < 0; ++attempt) {
        staged = newName() + ".partial";
        file.reset(SystemCalls::current().openat(
            staging.get(), staged.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
            0600));
        if (file.get() < 0 && errno != EEXIST) {
            const int saved = errno;
            failWith(saved, "creating a staged file in " + shownStaging);
        }
    }
    if (file.get() < 0)
        failWith(EEXIST, "creating a staged file in " + shownStaging);
    try {
        if (SystemCalls::current().flock(file.get(), LOCK_EX) != 0) {
            const int saved = errno;
            failWith(saved, "locking the staged file");
        }
        writeAll(file.get(), bytes, shownStaging + "/" + staged);
        std::string name = moveIn(staging.get(), staged, folder, shownFolder);
        try {
            syncFolder(folder, shownFolder);
        } catch (const WriteFailure&) {
            (void)SystemCalls::current().unlinkat(folder, name.c_str(), 0);
            throw;
        }
        // The staged name is gone from the staging folder; recording that is not needed for
        // the new file's safety, so a failure here changes nothing.
        (void)SystemCalls::current().fsync(staging.get());
        return name;
    } catch (const WriteFailure&) {
        (void)SystemCalls::current().unlinkat(staging.get(), staged.c_str(), 0);
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
        const std::vector<std::string> components = pathComponents(folder);
        if (components.empty())
            failWith(EINVAL, "no folder to write into");
        Descriptor parent = openFolder(AT_FDCWD, container, container);
        std::string shownPath = container;
        for (std::size_t i = 0; i + 1 < components.size(); ++i) {
            shownPath += "/" + components[i];
            parent = openOrMakeFolder(parent.get(), components[i], shownPath);
        }
        const std::string& folderName = components.back();
        shownPath += "/" + folderName;
        Descriptor target = openOrMakeFolder(parent.get(), folderName, shownPath);

        if (mode == StagingMode::automatic) {
            Descriptor file(SystemCalls::current().openat(target.get(), ".",
                                                          O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
            if (file.get() >= 0) {
                writeAll(file.get(), bytes, "a new file in " + shownPath);
                if (auto name = linkUnnamed(file.get(), target.get(), shownPath)) {
                    try {
                        syncFolder(target.get(), shownPath);
                    } catch (const WriteFailure&) {
                        (void)SystemCalls::current().unlinkat(target.get(), name->c_str(), 0);
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
        return {writeThroughStaging(parent.get(), folderName, target.get(), bytes, shownPath),
                std::nullopt};
    } catch (const WriteFailure& failure) {
        return {std::nullopt, failure.error};
    }
}

}  // namespace quorvane
