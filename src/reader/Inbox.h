// Inbox: the import folder as its readers see it. Lists the texts waiting there and hands each
// over exactly once, into a folder or to a consumer, whatever other readers, senders and
// listers do at the same time and wherever a reader is killed.
//
// The folder is `<container root>/group.app.quorvane.teleprompter/regular/imported`, found with
// handover::containerRoot() and handover::importFolderPath(). Its contract, as the share sheet
// writes it: one file per sent text, named by an upper-case UUID, holding the text's UTF-8 bytes
// and nothing else, linked into the folder complete and synced.
//
// What is a text: an entry of the folder whose name is an upper-case UUID (isTextName) and that
// is a regular file of this user, reached without links (the container, "regular" and
// "imported" are this user's folders, walked down as the writer walks them, never through a
// link: handover::FolderWalk). Anything else (other names, links, folders, FIFOs, devices, other
// users' files, folder-sync tools' temporary and conflict copies) is left alone: never opened
// for reading, never followed, never removed. Listings report what they skipped and why.
//
// How a text is handed over exactly once:
// - hold: the text's file is opened and locked (flock, exclusive, never waited for); a text
//   another reader holds is passed over (and said so, to be looked at again soon: its holder
//   may stop or die without a trace in the folder), and a hold ends with its holder, however it
//   ends. A text that is there but cannot be opened, read or held is a failure, with its reason,
//   never "not waiting";
// - deliver: into a folder, the text gets a free name made from its title (fileNameFor). On the
//   import folder's file system it moves there in one atomic step that never replaces anything
//   (rename without replacing): at every instant it is in the import folder or in the folder,
//   never both, never neither. What arrived is then checked to be the file held; anything else
//   renamed over the name meanwhile (a link, a newer version) goes back, and that round gives
//   the text up (the newer file waits). Elsewhere (or where the file system cannot move so) a
//   record of the choice (folder, name, file identity) is synced in `regular/.imported-claims`
//   (beside the import folder, never inside it) before the held file itself (never its name) is
//   linked in the folder; on another file system a copy of it is written and synced first, and
//   where the folder has no links (FAT) that copy is renamed to its name without replacing
//   anything. Only once the folder is synced does the text leave the import folder, which is
//   then synced; then the record goes. An existing entry of the folder is never replaced or
//   followed: a taken name (a file, a link, a FIFO, anything) moves on to "Title (2).txt" and so
//   on;
// - leaving: a name is removed only while it is the file held. It is moved aside into the
//   records folder in one step (as `.taking-<id>-<inode>`); the held file is removed there, and
//   anything else (a newer version renamed over the name) goes back under the name, to wait;
// - a reader killed at any point leaves the text waiting (with or without a record), set aside
//   or delivered; the next reader to hold it reads the record first and, when the recorded file
//   is in its folder, finishes the removal instead of delivering again, and tidy() removes what
//   was set aside when it is the file its name says and puts anything else back. So no text
//   lands twice and none is lost.
// Consumers (take) are handed a text at least once: a consumer that fails or a reader killed
// while it runs leaves the text waiting, with the same id the next time; a newer file renamed
// over the name while a consumer has the text is never removed with it.
//
// An import folder on a file system that keeps no owners or modes (FAT, exFAT, SMB and the
// like) is not used: anyone could plant a text there.
//
// Nothing here is thread-safe on one Inbox; separate processes and separate Inbox objects may
// work on one folder at the same time. Uses no Qt and none of the extension's code.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "reader/DeliveryFolder.h"
#include "reader/FolderWatch.h"

namespace reader {

// One text waiting in the import folder.
struct WaitingText {
    std::string id;            // its name: the upper-case UUID the share sheet gave it
    std::string path;          // the import folder's path + "/" + id
    struct timespec modified;  // when it landed (its modification time)
    std::uint64_t bytes = 0;   // its size
    std::string title;         // titleOf() its first kTitleReadLimit bytes (raw bytes); empty when
                               // listed with Titles::leftOut
    std::string problem;       // why it cannot be handed over now ("cannot be opened: ..."):
                               // it still waits; empty when nothing was found wrong
};

// Whether a listing reads each text's title (one open and read per text) or leaves it out (a
// look at each entry only: what a hand-over into a folder needs, as it reads the title of the
// file it holds).
enum class Titles { read, leftOut };

// An entry of the import folder that is not a text, and why.
struct SkippedEntry {
    std::string name;
    std::string reason;  // "a symbolic link", "a FIFO", "not a sent text's name", ...
};

struct Listing {
    std::vector<WaitingText> texts;     // oldest first: modification time, then name
    std::vector<SkippedEntry> skipped;  // in the folder's order
};

// How one hand-over ended.
enum class Outcome {
    handedOver,  // delivered (or consumed) and removed from the import folder
    notWaiting,  // gone, or held by another reader: someone else hands it over
    kept,        // the consumer declined it: still waiting (take only)
    failed,      // still waiting, for the reason in `problem`
};

struct HandOver {
    std::string id;
    Outcome outcome = Outcome::failed;
    std::string deliveredTo;     // the file it became, when delivered (also by an earlier reader)
    std::string problem;         // what failed, naming the path and the system's reason
    std::string title;           // the held file's title line, when deliver() read it
    bool heldElsewhere = false;  // notWaiting because another reader holds it: when that reader
                                 // stops, dies or gives it up, nothing in the folder changes, so
                                 // look again (a little later) rather than wait for news
};

// A text while a consumer has it: held, so no other reader takes it.
struct HeldText {
    const WaitingText& text;
    int descriptor;  // read-only, positioned at the start; read it with pread() or from offset 0
    // A separate read-only descriptor of the same file at offset 0, without the hold (for a
    // child process's standard input, which must not carry the hold past the reader); -1 with
    // errno set when it cannot be opened. The caller closes it.
    [[nodiscard]] int openSeparately() const;
};

class Inbox {
  public:
    // The import folder under the container root `root` (see handover::containerRoot).
    explicit Inbox(std::string root);

    [[nodiscard]] const std::string& importFolder() const { return importFolder_; }

    // What waits, oldest first, and what was skipped. Takes nothing and removes nothing (what a
    // reader killed half-way set aside and never handed over goes back to wait first); each
    // text's title costs one read of at most kTitleReadLimit bytes (none with Titles::leftOut).
    // A container or import folder that does not exist yet waits nothing. None, with the reason
    // in `problem`, when the folder cannot be read or a folder of its path is a link, not a
    // folder or another user's.
    [[nodiscard]] std::optional<Listing> list(std::string* problem,
                                              Titles titles = Titles::read) const;

    // Delivers `texts` (from list(), in that order) into `folder`, exactly once each, and
    // returns one result per text handled, in order. Each file is named from the title of the
    // file held, whatever the listing read (so a listing with Titles::leftOut will do). Texts are
    // handled in batches that share their syncs; `keepGoing` is asked before each batch and a false
    // answer stops there (the rest stay waiting, without a result). Each call also clears the
    // records that readers killed after removing a text left behind, even when `texts` is empty.
    [[nodiscard]] std::vector<HandOver> deliver(const std::vector<WaitingText>& texts,
                                                const DeliveryFolder& folder,
                                                const std::function<bool()>& keepGoing = {});

    // Holds `text` and hands it to `consume`, which returns true when it took the text: the
    // text is then removed from the import folder. False keeps it waiting (Outcome::kept). A
    // text an earlier reader delivered into a folder is removed without calling `consume`
    // (handedOver, with deliveredTo set).
    [[nodiscard]] HandOver take(const WaitingText& text,
                                const std::function<bool(const HeldText&)>& consume);

    // Clears what readers killed half-way left in the records folder: records of texts that
    // have left, and names set aside while being removed (the held file is removed, anything
    // else put back to wait). deliver() does this itself; a reader that only takes calls it
    // once a pass.
    void tidy();

    // How many texts a batch of deliver() handles at most (one descriptor each).
    static constexpr std::size_t kMaxBatch = 1024;

  private:
    std::string root_;
    std::string importFolder_;
};

}  // namespace reader
