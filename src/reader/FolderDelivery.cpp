#include "reader/internal/FolderDelivery.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <utility>

#include "reader/TextTitle.h"
#include "reader/internal/Files.h"
#include "reader/internal/SetAside.h"

namespace reader::internal {
namespace {

// Below this many texts a batch syncs each record and copy on its own; from here on one sync of
// the whole file system costs less.
constexpr std::size_t kWholeFileSystemSync = 32;
// From how many texts a batch may hold does a delivery hold the next batch while it moves one.
constexpr std::size_t kHoldAheadFrom = 8;
// How many names ("Title (2).txt" ...) are tried before a delivery gives up.
constexpr unsigned kMaxCopies = 100000;

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

FolderDelivery::FolderDelivery(const std::vector<WaitingText>& texts, const DeliveryFolder& folder,
                               int imported, int claims, std::string claimsPath,
                               std::vector<HandOver>& results)
    : texts_(texts),
      folder_(folder),
      imported_(imported),
      claims_(claims),
      claimsPath_(std::move(claimsPath)),
      results_(results) {}

void FolderDelivery::run(const std::function<bool()>& keepGoing) {
    const std::size_t limit = batchLimit();
    // Into a folder on the import folder's file system each text costs a handful of quick calls
    // on the same two folders, and threads beside this one only contend for them: a drain of
    // 10,000 took more processor time and no less time with the next batch held on a second
    // thread. Copies wait on the disk instead, and there the holds overlap them.
    struct ::stat importStatus {};
    const bool overlap = ::fstat(imported_, &importStatus) != 0 ||
                         importStatus.st_dev != folder_.device() || !renameWorks_;
    results_.reserve(results_.size() + texts_.size());
    std::vector<Step> finished;    // the last batch's texts, let go of by the next hold
    std::future<HeldBatch> ahead;  // waited for (and its holds let go) when the run ends
    for (std::size_t start = 0; start < texts_.size(); start += limit) {
        if (keepGoing && !keepGoing())
            break;
        const std::size_t end = std::min(texts_.size(), start + limit);
        // Hold each text (the next batch is held meanwhile).
        if (!ahead.valid())
            finished.clear();  // the last batch's descriptors, before this one takes its own
        HeldBatch held =
            ahead.valid() ? ahead.get() : holdBatch(imported_, texts_, start, end, overlap);
        // Under a tight limit of descriptors (ulimit -n), one batch at a time: a batch held
        // ahead would find none left and fail its texts.
        if (overlap && end < texts_.size() && limit >= kHoldAheadFrom)
            ahead = holdAhead(end, std::min(texts_.size(), end + limit), std::move(finished));
        deliverBatch(start, end, held);
        finished = std::move(steps_);
        steps_.clear();
    }
    syncMoves();
}

// While one batch is delivered, another thread holds the next and lets go of the last: the moves
// wait on the folders, the holds on the files, and the two overlap.
std::future<HeldBatch> FolderDelivery::holdAhead(std::size_t from, std::size_t to,
                                                 std::vector<Step> release) {
    auto task = [texts = &texts_, imported = imported_, from, to,
                 release = std::move(release)]() mutable {
        release.clear();
        return holdBatch(imported, *texts, from, to, false);
    };
    try {
        return std::async(std::launch::async, std::move(task));
    } catch (const std::system_error&) {
        // No thread to be had: the batch is held when it is wanted.
        return std::async(std::launch::deferred, std::move(task));
    }
}

void FolderDelivery::deliverBatch(std::size_t start, std::size_t end, HeldBatch& held) {
    wholeSync_ = end - start >= kWholeFileSystemSync;
    steps_.clear();
    steps_.reserve(end - start);
    chosen_.clear();
    // Records are written only by a text's holder, so once the batch is held, one look at the
    // records folder finds every record that concerns it. Finish what an earlier reader
    // recorded, choose a name, make copies.
    const std::optional<std::set<std::string>> recorded = entryNames(claims_);
    for (std::size_t i = start; i < end; ++i)
        prepare(texts_[i], std::move(held.holds[i - start]), std::move(held.titles[i - start]),
                !recorded || recorded->count(texts_[i].id) != 0);
    recordChoices();
    // Into the folder, under the chosen name or the next free one. A text moved by renames is
    // in one place whenever the reader stops, so its move needs no sync of its own before the
    // next: the moves of the whole run are synced once, at its end (or with a batch that links).
    bool anyLinked = false;
    for (Step& step : steps_) {
        if (!moveIntoFolder(step))
            continue;
        if (step.renamed)
            moved_.push_back(step.result);
        else
            anyLinked = true;
    }
    if (anyLinked)
        syncFolder();
    leaveImportFolder();
}

void FolderDelivery::prepare(const WaitingText& text, Hold held, std::string title,
                             bool recordedHere) {
    results_.push_back({text.id, Outcome::notWaiting, {}, {}});
    Step step{.text = &text, .held = std::move(held), .result = results_.size() - 1};
    if (!step.held.fd) {
        reportNotHeld(step.held, results_.back());
        return;
    }
    step.byRename = renameWorks_ && step.held.status.st_dev == folder_.device();
    // What is settled, linked or copied must still be the text of its name; a move of the name
    // finds that out itself.
    if ((recordedHere || !step.byRename) && !stillNamed(imported_, text.id, step.held.status))
        return;
    results_.back().title = std::move(title);  // names are made from it
    if (recordedHere && settleEarlier(step))
        return;
    results_.back().outcome = Outcome::handedOver;  // until something fails
    step.record.folderDevice = folder_.device();
    step.record.folderInode = folder_.inode();
    step.record.folderPath = folder_.path();
    // A move chooses its name when it is made, in order, so that of texts with one title the
    // oldest gets the first free name.
    if (!step.byRename && !chooseName(step)) {
        fail(step, noFreeName(step));
        return;
    }
    step.record.fileDevice = step.held.status.st_dev;
    step.record.fileInode = step.held.status.st_ino;
    if (step.held.status.st_dev != folder_.device()) {
        std::string why;
        step.copy =
            copyInto(step.held, folder_.descriptor(), folder_.path(), text.id, !wholeSync_, &why);
        if (!step.copy) {
            fail(step, why);
            return;
        }
    }
    steps_.push_back(std::move(step));
}

// Settles what an earlier reader recorded of `step`'s text. True when that decided the text
// (delivered before, its removal now synced with the batch; or failed); false when nothing was.
bool FolderDelivery::settleEarlier(Step& step) {
    HandOver& result = resultOf(step);
    std::string why;
    switch (settle(claims_, step.text->id, &folder_, step.held, &result.deliveredTo, &why)) {
        case Settled::delivered:
            if (!removeHeld(imported_, claims_, step.text->id, step.held.status)) {
                result.outcome = Outcome::failed;
                result.problem = failure("removing " + step.text->path, errno);
                result.deliveredTo.clear();
                return true;
            }
            result.outcome = Outcome::handedOver;
            step.linked = false;
            step.byRename = false;
            steps_.push_back(std::move(step));  // its removal is synced with the batch
            steps_.back().record.name.clear();
            return true;
        case Settled::failed:
            result.outcome = Outcome::failed;
            result.problem = why;
            return true;
        case Settled::nothingRecorded:
            break;
    }
    return false;
}

// Records each choice that is not one rename; the records (and copies) are durable before any
// link.
void FolderDelivery::recordChoices() {
    bool anyRecord = false;
    for (Step& step : steps_) {
        if (resultOf(step).outcome != Outcome::handedOver || step.record.name.empty() ||
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
        const std::string why = writeRecord(claims_, step.text->id, step.record, !wholeSync_);
        if (!why.empty()) {
            fail(step, why);
            continue;
        }
        anyRecord = true;
    }
    if (!anyRecord)
        return;
    int synced = wholeSync_ ? ::syncfs(claims_) : syncRetrying(claims_);
    if (synced == 0 && wholeSync_) {
        struct ::stat claimsStatus {};
        if (::fstat(claims_, &claimsStatus) == 0 && claimsStatus.st_dev != folder_.device())
            synced = ::syncfs(folder_.descriptor());
    }
    if (synced != 0) {
        const std::string why = failure("syncing the delivery records in " + claimsPath_, errno);
        for (Step& step : steps_)
            if (resultOf(step).outcome == Outcome::handedOver && !step.record.name.empty())
                fail(step, why);
    }
}

// Moves, links or copies `step`'s text into the folder. True when it is there now.
bool FolderDelivery::moveIntoFolder(Step& step) {
    if (resultOf(step).outcome != Outcome::handedOver ||
        (step.record.name.empty() && !step.byRename))
        return false;
    if (step.byRename)
        moveByRename(step);
    if (!step.renamed) {
        if (resultOf(step).outcome != Outcome::handedOver)
            return false;
        linkOrCopy(step);
        if (resultOf(step).outcome != Outcome::handedOver)
            return false;
    }
    step.linked = true;
    resultOf(step).deliveredTo = folder_.path() + "/" + step.record.name;
    return true;
}

// On one file system the text moves in atomic steps, never replacing anything: it is in the
// import folder, on its way in the records folder or in the folder, whenever the reader is
// stopped. A name found taken stays among the chosen, so no later text tries it again.
void FolderDelivery::moveByRename(Step& step) {
    const std::string moving = asideName(step.text->id, step.held.status, kMovingPrefix);
    while (step.byRename) {
        if (step.record.name.empty() && !chooseName(step)) {
            fail(step, noFreeName(step));
            return;
        }
        if (!step.staged && stage(step, moving) > 0)
            return;
        if (step.staged && ::renameat2(claims_, moving.c_str(), folder_.descriptor(),
                                       step.record.name.c_str(), RENAME_NOREPLACE) == 0) {
            step.renamed = true;
            return;
        }
        const int error = errno;
        if (step.staged && error == EEXIST) {
            ++step.copyNumber;
            if (chooseName(step))
                continue;
        }
        moveFailed(step, moving, error);
        return;
    }
}

// Moves `step`'s text from its name into the records folder as `moving` and checks it is the
// file held. 0 when it is; 1 when it was not (anything renamed over the name since the hold, a
// link, a newer version, went back, and this round gives the text up: what waits now is newer);
// -1, with errno, when the move failed.
int FolderDelivery::stage(Step& step, const std::string& moving) {
    if (::renameat2(imported_, step.text->id.c_str(), claims_, moving.c_str(), RENAME_NOREPLACE) !=
        0)
        return -1;
    struct ::stat moved {};
    if (::fstatat(claims_, moving.c_str(), &moved, AT_SYMLINK_NOFOLLOW) != 0 ||
        !sameFile(moved, step.held.status)) {
        (void)putBack(claims_, moving, imported_, step.text->id);
        resultOf(step).outcome = Outcome::notWaiting;
        step.held = Hold();
        return 1;
    }
    step.staged = true;
    return 0;
}

// A move that failed with `error`: the text goes back to wait under its name (where a newer file
// took the name meanwhile, the held one waits under a name of its own and this round gives it
// up), and where the file system has no such move it is linked under a record instead.
void FolderDelivery::moveFailed(Step& step, const std::string& moving, int error) {
    const bool wasStaged = std::exchange(step.staged, false);
    if (wasStaged && !putBack(claims_, moving, imported_, step.text->id)) {
        resultOf(step).outcome = Outcome::notWaiting;
        step.held = Hold();
        return;
    }
    if (error == EEXIST) {
        fail(step, wasStaged
                       ? noFreeName(step)
                       : claimsPath_ + "/" + moving + " is in the way (left by a stopped reader)");
    } else if (!stillNamed(imported_, step.text->id, step.held.status)) {
        // Taken by a reader that held it before us, between our open and our lock.
        resultOf(step).outcome = Outcome::notWaiting;
        step.held = Hold();
    } else if (error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EXDEV) {
        // No such move here: link under a record, synced before the link.
        renameWorks_ = renameWorks_ && error == EXDEV;
        step.byRename = false;
        std::string why = writeRecord(claims_, step.text->id, step.record, true);
        if (why.empty() && syncRetrying(claims_) != 0)
            why = failure("syncing the delivery records in " + claimsPath_, errno);
        if (!why.empty())
            fail(step, why);
    } else {
        fail(step,
             failure("moving " + step.text->id + " to " + folder_.path() + "/" + step.record.name,
                     error));
    }
}

// Links the held file (or its copy) into the folder under the chosen name, or the next free one;
// each new choice is recorded before it is tried.
void FolderDelivery::linkOrCopy(Step& step) {
    for (;;) {
        const LinkTry tried = tryLink(step);
        if (tried != LinkTry::failed || !recoverFromLinkError(step, errno))
            return;
        const std::string why = writeRecord(claims_, step.text->id, step.record, true);
        if (!why.empty()) {
            fail(step, why);
            return;
        }
    }
}

FolderDelivery::LinkTry FolderDelivery::tryLink(Step& step) {
    const int target = folder_.descriptor();
    if (!step.copy || step.copy->partial.empty()) {
        const int source = step.copy ? step.copy->fd.get() : step.held.fd.get();
        return linkDescriptor(source, target, step.record.name) == 0 ? LinkTry::done
                                                                     : LinkTry::failed;
    }
    const std::string partial = step.copy->partial;
    if (linksWork_ && ::linkat(target, partial.c_str(), target, step.record.name.c_str(), 0) == 0) {
        (void)::unlinkat(target, partial.c_str(), 0);
        return LinkTry::done;
    }
    if (linksWork_ && !linksRefused(errno))
        return LinkTry::failed;
    linksWork_ = false;
    // A name chosen for a folder with links may hold what this one refuses: it is chosen again.
    if (portableName(step.record.name) != step.record.name) {
        chosen_.erase(step.record.name);
        if (!chooseName(step)) {
            fail(step, noFreeName(step));
            return LinkTry::gaveUp;
        }
        const std::string why = writeRecord(claims_, step.text->id, step.record, true);
        if (!why.empty()) {
            fail(step, why);
            return LinkTry::gaveUp;
        }
    }
    return renameNoReplace(target, partial, step.record.name, &noReplaceWorks_) == 0
               ? LinkTry::done
               : LinkTry::failed;
}

// What a link or naming that failed with `error` does next. True to try again (under the next
// name, or with a copy); false when the text was given up or failed.
bool FolderDelivery::recoverFromLinkError(Step& step, int error) {
    if (error == EEXIST) {
        ++step.copyNumber;
        if (chooseName(step))
            return true;
        fail(step, noFreeName(step));
        return false;
    }
    if (error == ENOENT && !step.copy) {
        // The held file has no name left: something was renamed over it since the hold. This
        // round gives the text up; what waits now is newer.
        resultOf(step).outcome = Outcome::notWaiting;
        (void)::unlinkat(claims_, step.text->id.c_str(), 0);
        step.held = Hold();
        return false;
    }
    if ((error == EXDEV || linksRefused(error)) && !step.copy) {
        // Same device, other mount (a bind mount), or a folder without links: copy after all.
        std::string why;
        step.copy =
            copyInto(step.held, folder_.descriptor(), folder_.path(), step.text->id, true, &why);
        if (!step.copy) {
            fail(step, why);
            return false;
        }
        struct ::stat status {};
        (void)::fstat(step.copy->fd.get(), &status);
        step.record.fileDevice = status.st_dev;
        step.record.fileInode = status.st_ino;
        return true;
    }
    fail(step, failure((linksWork_ ? "linking " + step.text->id + " into "
                                   : "naming the copy of " + step.text->id + " ") +
                           folder_.path() + "/" + step.record.name,
                       error));
    return false;
}

// Syncs the folder. Where that fails the links may not be durable: the texts stay waiting, and
// their records let the next reader finish without a second copy.
void FolderDelivery::syncFolder() {
    if (syncRetrying(folder_.descriptor()) == 0) {
        moved_.clear();  // synced with the links
        return;
    }
    const std::string why = failure("syncing " + folder_.path(), errno);
    movedNotSynced(why);
    for (Step& step : steps_) {
        if (step.linked && !step.renamed) {
            resultOf(step).outcome = Outcome::failed;
            resultOf(step).problem = why;
            step.linked = false;
            step.record.name.clear();
        }
    }
}

// The texts moved by renames and not synced yet are in the folder, but may not stay there after
// a power cut: each is said to have failed for `why`, with where it is.
void FolderDelivery::movedNotSynced(const std::string& why) {
    for (const std::size_t result : moved_) {
        results_[result].outcome = Outcome::failed;
        results_[result].problem = why;
    }
    moved_.clear();
}

// Syncs the moves of the run: the folder first (what was moved is there for good), then the
// records folder the texts passed through and the import folder they left, so that after a
// power cut no text is back where it was as well as in the folder.
void FolderDelivery::syncMoves() {
    if (moved_.empty())
        return;
    if (syncRetrying(folder_.descriptor()) != 0) {
        movedNotSynced(failure("syncing " + folder_.path(), errno));
        return;
    }
    moved_.clear();
    (void)syncRetrying(claims_);
    (void)syncRetrying(imported_);
}

// Only now does each delivered text leave the import folder; then its record goes.
void FolderDelivery::leaveImportFolder() {
    bool anyRemoved = false;
    for (Step& step : steps_) {
        if (step.renamed || !step.linked)
            continue;  // a move's removal is synced with the run's moves
        if (!removeHeld(imported_, claims_, step.text->id, step.held.status)) {
            resultOf(step).outcome = Outcome::failed;
            resultOf(step).problem =
                failure("removing " + step.text->path + " after delivering it to " +
                            resultOf(step).deliveredTo,
                        errno);
            step.record.name.clear();  // its record makes the next reader finish this
            continue;
        }
        anyRemoved = true;
    }
    for (const Step& step : steps_)
        if (resultOf(step).outcome == Outcome::handedOver && !step.linked)
            anyRemoved = true;  // removed when its earlier delivery was settled
    if (anyRemoved && syncRetrying(imported_) != 0) {
        // The removals may not be durable; the records stay so a text that comes back after a
        // power cut is settled, not delivered twice.
        for (Step& step : steps_)
            step.record.name.clear();
        return;
    }
    for (const Step& step : steps_)
        if (resultOf(step).outcome == Outcome::handedOver && !step.renamed)
            (void)::unlinkat(claims_, step.text->id.c_str(), 0);
}

void FolderDelivery::fail(Step& step, std::string why) {
    resultOf(step).outcome = Outcome::failed;
    resultOf(step).problem = std::move(why);
    if (!step.byRename)
        (void)::unlinkat(claims_, step.text->id.c_str(), 0);
    if (step.copy && !step.copy->partial.empty())
        (void)::unlinkat(folder_.descriptor(), step.copy->partial.c_str(), 0);
    step.copy.reset();
    step.held = Hold();
}

// The next free name for `step`, from its current copy number on. A move that never replaces
// says itself when a name is taken, so only links look first.
bool FolderDelivery::chooseName(Step& step) {
    for (; step.copyNumber <= kMaxCopies; ++step.copyNumber) {
        std::string name = fileNameFor(resultOf(step).title, step.copyNumber);
        if (!linksWork_)
            name = portableName(std::move(name));
        struct ::stat status {};
        if (chosen_.count(name) || (!step.byRename && ::fstatat(folder_.descriptor(), name.c_str(),
                                                                &status, AT_SYMLINK_NOFOLLOW) == 0))
            continue;
        chosen_.insert(name);
        step.record.name = std::move(name);
        return true;
    }
    return false;
}

std::string FolderDelivery::noFreeName(const Step& step) const {
    return "no free name for " + step.text->id + " in " + folder_.path();
}

}  // namespace reader::internal
