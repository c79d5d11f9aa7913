// ScriptFile: a script's bytes read from disk, whole, for prompting.
//
// Only a regular file is read (a FIFO, a device or a folder is refused without blocking), up to
// kMaxBytes; the failure says which file and why, in words for the window.
#pragma once

#include <QString>
#include <cstdint>
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

    // Starts reading `path` on a thread of its own: a script named when the program starts is
    // read while the window is being made. The first read that opens that very file unchanged
    // (the same device, inode, size and times as before and after it was read ahead) takes
    // these bytes instead of reading them again; every check of that read (no link, a regular
    // file, the size) is made as ever. forgetReadAhead() drops bytes no read took.
    static void readAhead(const QString& path);
    static void forgetReadAhead();
};

}  // namespace prompter
