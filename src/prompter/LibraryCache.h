// LibraryCache: what the library's list shows of each script (its title line and its words),
// kept between runs so a library of thousands of scripts opens without reading them all again.
//
// One file, $XDG_CACHE_HOME/quorvane/library-cache (~/.cache when the variable is unset), the
// person's alone (the folder 0700, the file 0600). An entry is only ever a hint: it is used for
// a script only while the script's file is the same file (device and inode), with the same name,
// size and change time (nanoseconds; a change time no program can set back). So an edit in place
// that keeps the size, a script replaced by a rename, or a file put back under an old name is
// counted again: the cache can make the list faster, never wrong.
//
// The file is read with care and written whole: each entry carries its own checksum, so a
// damaged entry is dropped alone and a truncated, foreign or garbled file costs its entries,
// never the program; it is replaced by a new file written beside it, synced and renamed over.
// A link, a folder or any other non-regular file at the cache's path (or a link for its folder)
// is refused: it is neither read nor replaced, and the library works on without a cache.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace prompter {

class LibraryCache {
  public:
    // What makes an entry hold for a file: its identity and its change.
    struct Key {
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        std::int64_t bytes = 0;
        std::int64_t changedNs = 0;
        friend bool operator==(const Key&, const Key&) = default;
    };
    struct Entry {
        Key key;
        QString title;  // the title line as counted (empty when the script has none)
        std::int64_t words = 0;
    };

    // The cache at `path`; nothing is read until load().
    explicit LibraryCache(QString path);
    // $XDG_CACHE_HOME/quorvane/library-cache, or ~/.cache/quorvane/library-cache.
    [[nodiscard]] static QString defaultPath();

    // Reads the file once (later calls do nothing); entries that are damaged are dropped.
    void load();
    [[nodiscard]] bool isLoaded() const { return loadedOnce_; }
    // Why the cache is not used (its path is a link or not a regular file), when it is not.
    [[nodiscard]] const std::optional<QString>& refusal() const { return refusal_; }
    // How many entries the last load() kept and dropped as damaged.
    [[nodiscard]] int loaded() const { return loaded_; }
    [[nodiscard]] int dropped() const { return dropped_; }

    // Names are the file names' bytes as the folder holds them.
    // The entry of `name`, when it was made for the file `key` describes. Notes `name` as seen
    // by the listing under way (see forgetUnseen).
    [[nodiscard]] const Entry* find(std::string_view name, const Key& key) const;
    void put(std::string_view name, Entry entry);
    void remove(std::string_view name);
    // Around a listing of the whole folder: every name not looked for (find) or put between
    // the two is forgotten (scripts that left the folder).
    void startListing();
    void forgetUnseen();
    // Whether something changed since the file was read or written.
    [[nodiscard]] bool dirty() const { return dirty_; }
    // Writes every entry: a new file beside the cache, synced, renamed over it. The failure in
    // words, or nothing (a refused path is never written).
    std::optional<QString> save();

  private:
    // The cache's folder, opened without following a link (made first when `create`), or -1.
    int openFolder(bool create);

    // Looked up by a name's bytes without making a string of them first.
    struct NameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view name) const {
            return std::hash<std::string_view>{}(name);
        }
    };
    struct Slot {
        Entry entry;
        mutable std::uint32_t seenIn = 0;  // the listing that last looked for it (0: none)
    };

    QString path_;
    std::optional<QString> refusal_;
    std::unordered_map<std::string, Slot, NameHash, std::equal_to<>> entries_;
    bool loadedOnce_ = false;
    std::uint32_t listing_ = 1;  // the listing under way
    bool dirty_ = false;
    int loaded_ = 0;
    int dropped_ = 0;
};

}  // namespace prompter
