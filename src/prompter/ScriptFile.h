// ScriptFile: a script's bytes read from disk, whole, for prompting.
//
// Only a regular file is read (a FIFO, a device or a folder is refused without blocking), up to
// kMaxBytes; the failure says which file and why, in words for the window.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>

namespace prompter {

struct ScriptReadError {
    QString message;
};

class ScriptFile {
  public:
    static constexpr std::uint64_t kMaxBytes = std::uint64_t{1} << 30;  // 1 GiB

    using Result = std::variant<std::shared_ptr<const std::string>, ScriptReadError>;

    [[nodiscard]] static Result read(const QString& path);
    // The file `name` of the folder open as `folder`, never through a link; `shown` names it in
    // a failure.
    [[nodiscard]] static Result readAt(int folder, const QString& name, const QString& shown);
    // From `fd` (taken: it is closed), which `shown` names in a failure.
    [[nodiscard]] static Result readOpen(int fd, const QString& shown);

    // A script's start, shown while the rest of it is read: a big script shows at once.
    struct Start {
        // The whole script, or (with `rest`) its first bytes, a byte-order mark left out.
        std::shared_ptr<const std::string> text;
        // Reads the whole of the file `text` began (the file opened for it, so a file renamed
        // over the path meanwhile is not the one read), with every check read() makes, on any
        // thread, once. Empty when `text` is the whole script.
        std::function<Result()> rest;
    };
    using Started = std::variant<Start, ScriptReadError>;
    // The whole script when it is at most `wholeUpTo` bytes, else its first `headBytes` (a
    // byte more where the file holds it, so what follows the head is known to be there) and
    // the rest to read.
    [[nodiscard]] static Started start(const QString& path, std::uint64_t wholeUpTo,
                                       std::uint64_t headBytes);
    // A whole script read (or why not) as a Start without a rest; and back, for a Start that
    // is known to be whole.
    [[nodiscard]] static Started started(Result read);
    [[nodiscard]] static Result whole(Started started);
    // From `fd` (taken: it is closed, or kept by `rest`), which `shown` names in a failure.
    [[nodiscard]] static Started startOpen(int fd, const QString& shown, std::uint64_t wholeUpTo,
                                           std::uint64_t headBytes);

    // Starts reading `path` on a thread of its own, when it holds at most `upTo` bytes: a
    // script named when the program starts is read while the window is being made. The first read
    // that opens that very file unchanged (the same device, inode, size and times as before and
    // after it was read ahead) takes these bytes instead of reading them again; every check of that
    // read (no link, a regular file, the size) is made as ever. forgetReadAhead() drops bytes no
    // read took.
    static void readAhead(const QString& path, std::uint64_t upTo = kMaxBytes);
    static void forgetReadAhead();
};

}  // namespace prompter
