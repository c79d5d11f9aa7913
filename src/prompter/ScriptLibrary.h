// ScriptLibrary: the person's scripts, the files of one folder, newest first, as a table model
// the library window shows.
//
// The folder is ~/Teleprompter unless the person chose another: the one folder the receiver's
// user unit delivers into, which people see in their file manager. Scripts of the folder older
// versions kept ($XDG_DATA_HOME/quorvane/scripts) move in once (moveIn). Only regular files
// reached without links are scripts; hidden files are not. Each is listed by its name: the file
// name without ".txt", which starts as its title line, so "Notes (2)" is told from "Notes". The
// folder itself must be a real folder of the person's: one that is a symbolic link, belongs to
// another user or that anyone may write to is refused (refusal() says why), and then nothing is
// listed, read, renamed, deleted or added there. Every file is reached through the folder opened
// once, never through its path again.
//
// Cost follows what changed: the folder is watched (inotify) name by name, so a file that lands,
// changes or leaves is looked at alone and its row inserted, updated or removed; a burst of
// arrivals is applied in one pass of the event loop. Only a lost watch event (a queue overflow)
// or a folder moved away lists the whole folder again.
//
// What a row shows of a script (its title line, words and reading time) comes from the
// library's cache (LibraryCache) while the script's file is the one it was counted from (same
// device, inode, name, size and change time), else it is counted again. Listing the whole folder
// counts for a short while at most, then shows the list: rows still to count say so
// ("counting…") and fill in as the rest are counted while the program is otherwise idle. The
// cache is written once everything is counted (and when the library goes), so the next start
// shows every count at once. Listing the whole folder looks at each file once (one statx,
// through the folder): a large folder's files on two threads, each its half, while the cache is
// read beside the listing, so a library of thousands shows in about the time the system takes
// to tell what its files are.
//
// Deleting moves a script to the desktop's trash, never removes it outright; renaming never
// replaces another script, and a script's name holds no control characters.
#pragma once

#include <sys/types.h>
#include <QAbstractTableModel>
#include <QHash>
#include <QSet>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>
#include <deque>
#include <memory>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include "prompter/FileStamp.h"
#include "prompter/LibraryCache.h"
#include "prompter/ScriptFile.h"

namespace prompter {

struct ScriptEntry {
    QString fileName;
    QString title;         // the first line that is not blank, shortened
    qint64 arrivedMs = 0;  // when it arrived, milliseconds since the epoch
    qint64 bytes = 0;
    qint64 words = 0;
    bool isNew = false;   // taken in or landed while the window is open
    bool counted = true;  // title and words are known (else still being counted)
};

class ScriptLibrary : public QAbstractTableModel {
    Q_OBJECT

  public:
    enum Column { kName, kArrived, kLength, kReadingTime, kColumnCount };
    static constexpr int kFileNameRole = Qt::UserRole;

    // `cachePath`: where what the list shows of each script is kept between runs.
    explicit ScriptLibrary(QString folder, QObject* parent = nullptr,
                           QString cachePath = LibraryCache::defaultPath());
    ~ScriptLibrary() override;

    [[nodiscard]] static QString defaultFolder();
    // Where older versions kept the scripts.
    [[nodiscard]] static QString oldFolder();
    // A script's name as shown: its file name without ".txt".
    [[nodiscard]] static QString shownName(const QString& fileName);
    // The file name a script shown as `shown` gets when renamed from `fileName` (".txt" kept).
    [[nodiscard]] static QString fileNameFor(const QString& shown, const QString& fileName);

    // Moves the scripts of `from` (regular files, not hidden, of the person's own folder) into
    // this folder, each under its name or, when that is taken, the next free "Name (2).txt":
    // none replaced, none left in both (a move on one file system is one rename; across file
    // systems a copy is synced and linked in before the original goes, and a copy found whole
    // from an interrupted run is not made twice). The number moved; what failed in `problems`.
    int moveIn(const QString& from, QStringList* problems);
    [[nodiscard]] const QString& folder() const { return folder_; }
    [[nodiscard]] QString pathOf(const QString& fileName) const;

    // Makes the folder (owner-only) if it is missing and opens it; the failure in words.
    [[nodiscard]] std::optional<QString> ensureFolder();
    // Why the folder is refused (a link, another user's, writable by anyone), when it is.
    [[nodiscard]] const std::optional<QString>& refusal() const { return refusal_; }
    // Lists the whole folder again (opening it first if it is not open yet).
    void refresh();
    [[nodiscard]] const std::vector<ScriptEntry>& entries() const { return entries_; }
    // The row of `fileName`, or -1.
    [[nodiscard]] int rowOf(const QString& fileName) const;
    // Marks these scripts new (taken in by an intake).
    void markNew(const QStringList& fileNames);
    void markNew(const QString& fileName) { markNew(QStringList{fileName}); }
    // How long listing the whole folder may count scripts before it shows the list (the rest
    // are counted while idle); 15 ms unless set.
    void setCountingBudget(int milliseconds) { countingBudget_ = milliseconds; }
    // Whether rows are still waiting for their counts.
    [[nodiscard]] bool counting() const { return !uncounted_.isEmpty(); }
    [[nodiscard]] const LibraryCache& cache() const;
    // Words per minute the reading-time column is counted at.
    void setSpeed(double wordsPerMinute);

    // A script's bytes, read through the folder (never through a link). The script read last is
    // kept as it was read, with its file's inode, size and change times: while they hold, the
    // same bytes are given again without reading the file, so the editor, the list's count and
    // a prompt of the script open share one copy, read once. A write in place, a replacement
    // or a removal reads it anew.
    [[nodiscard]] ScriptFile::Result read(const QString& fileName);
    // The same, for a prompt that shows a big script's start while the rest is read
    // (ScriptFile::start): the bytes kept are given whole; a script read in two steps is not
    // kept.
    [[nodiscard]] ScriptFile::Started start(const QString& fileName, std::uint64_t wholeUpTo,
                                            std::uint64_t headBytes);
    // Each returns the failure in words, or nothing when it worked.
    [[nodiscard]] std::optional<QString> rename(const QString& fileName, const QString& newName);
    // `trashed`, when given, is where the script went in the trash (for restoreFromTrash).
    [[nodiscard]] std::optional<QString> moveToTrash(const QString& fileName,
                                                     QString* trashed = nullptr);
    // Puts a script moved to the trash back under its name (never over another script).
    [[nodiscard]] std::optional<QString> restoreFromTrash(const QString& trashed,
                                                          const QString& fileName);
    // The script was opened or prompted: no longer marked new.
    void markSeen(const QString& fileName);
    // A new script holding `text`, named after `title` (made unique); its name or the failure.
    [[nodiscard]] std::optional<QString> add(const QByteArray& text, QString* fileName);

    // Why `name` cannot name a script (empty when it can).
    [[nodiscard]] static QString nameProblem(const QString& name);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role) const override;

  signals:
    // After the rows changed (once per batch of changes).
    void changed();
    // The file `fileName` was written, replaced or removed on disk (by anyone).
    void scriptChanged(const QString& fileName);

  private:
    using Stamp = FileStamp;
    struct Opened {
        QString fileName;
        Stamp stamp;
        std::shared_ptr<const std::string> bytes;
    };

    std::optional<QString> attach(bool create);
    void detach(const QString& why);
    void watch();
    void readEvents();
    void applyPending();
    // The row `name` shows, counted now unless `later` (then only from the cache, or marked
    // still to count).
    // `encoded`: the name's bytes in the folder, ending in a zero byte.
    [[nodiscard]] std::optional<ScriptEntry> look(const QString& name, std::string_view encoded,
                                                  bool later = false);
    // What the file of `encoded` is and the cache's entry for it; touches nothing but the
    // cache entry's note that it was seen, so halves of a listing are probed on two threads
    // at once (the cache loaded first).
    struct Probe;
    [[nodiscard]] Probe probe(std::string_view encoded) const;
    // The row a probe makes (see look()).
    [[nodiscard]] std::optional<ScriptEntry> row(const QString& name, std::string_view encoded,
                                                 const Probe& probe, bool later);
    // Counts rows still waiting, for a few milliseconds; saves the cache when none are left.
    void countWaiting();
    void saveCache();
    // Looks at `name` again and inserts, updates or removes its row; whether anything changed.
    bool update(const QString& name);
    void insertSorted(ScriptEntry entry);

    QString folder_;
    std::optional<QString> refusal_;
    int folderFd_ = -1;
    int inotify_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    QSet<QString> pending_;  // names to look at again
    bool rescan_ = false;    // events were lost: list everything again
    bool reattach_ = false;  // the folder went away or was moved
    QTimer apply_;
    std::vector<ScriptEntry> entries_;
    // Each listed name's arrival, to find its row; made again when first needed after a listing.
    mutable QHash<QString, qint64> placed_;
    mutable bool placedStale_ = false;
    QSet<QString> new_;
    bool listed_ = false;
    // Read on a thread of its own from the library's start (it needs nothing of the folder), so
    // reading it overlaps the window's making; joined before the cache is first used.
    LibraryCache cache_;
    mutable std::thread cacheLoading_;
    LibraryCache& loadedCache() const;
    QSet<QString> uncounted_;         // listed rows still to count
    std::deque<QString> countQueue_;  // the same, in the order they are counted
    QTimer countTimer_;               // counts them while idle
    QTimer saveTimer_;                // writes the cache a while after the last count
    int countingBudget_ = 15;
    double speed_ = 140;
    Opened opened_;  // the script read last (see read())
};

}  // namespace prompter
