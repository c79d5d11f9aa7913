// WholeFile: the prompter's own files (its settings, its screenshots, scripts saved from the
// editor) read and written the careful way.
//
// Reading opens without following a link and without blocking, and reads only a regular file:
// a FIFO, a device or a folder at the path is refused at once instead of hanging the start.
// Writing puts the bytes in a new file beside the path, checks every write and the close, syncs
// it, then renames it over the path: a reader sees the old file or the new one, never half of
// one, and a link at the path is replaced, never followed.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>

namespace prompter {

class WholeFile {
  public:
    // Why nothing may be written at `path`: a link, a FIFO, a device, a folder, or a name that
    // cannot be looked at. Empty when the path is free or holds a regular file.
    [[nodiscard]] static QString pathProblem(const QString& path);

    // The bytes of the regular file at `path`, at most `maxBytes`; nothing (and the reason in
    // `problem`, when given) otherwise. A missing file gives nothing with `missing` set.
    // With `followLink`, a link to a regular file is read (the settings may be kept elsewhere).
    [[nodiscard]] static std::optional<QByteArray> read(const QString& path, std::uint64_t maxBytes,
                                                        QString* problem = nullptr,
                                                        bool* missing = nullptr,
                                                        bool followLink = false);

    // Puts `bytes` at `path` whole or not at all (see above), with `mode` for a new file. Empty
    // on success, else why; nothing is left behind on failure.
    [[nodiscard]] static QString write(const QString& path, const QByteArray& bytes,
                                       unsigned mode = 0666);
};

}  // namespace prompter
