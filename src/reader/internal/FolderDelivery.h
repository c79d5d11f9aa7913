// Delivering texts into a folder, batch by batch: each text held, an earlier reader's record of
// it settled first, a free name chosen from the held file's title, the choice recorded where the
// move is not one rename, the text moved (or linked, or copied) in, the folder synced, and only
// then the text removed from the import folder. While one batch is delivered, another thread
// holds the next.
#pragma once

#include <cstddef>
#include <functional>
#include <future>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "reader/Inbox.h"
#include "reader/internal/DeliveryRecords.h"
#include "reader/internal/Holding.h"
#include "reader/internal/MoveOrCopy.h"

namespace reader::internal {

class FolderDelivery {
  public:
    // Delivers `texts` into `folder` from the open import folder `imported`, keeping records in
    // the open records folder `claims` (`claimsPath` in messages); one result per text handled
    // is appended to `results`, in order.
    FolderDelivery(const std::vector<WaitingText>& texts, const DeliveryFolder& folder,
                   int imported, int claims, std::string claimsPath,
                   std::vector<HandOver>& results);

    // Delivers batch after batch, asking `keepGoing` before each; returns when all are handled
    // or it says stop (the rest stay waiting, without a result).
    void run(const std::function<bool()>& keepGoing);

  private:
    // One text of a batch on its way.
    struct Step {
        const WaitingText* text;
        Hold held;
        std::optional<Copy> copy;
        Record record;
        unsigned copyNumber = 1;
        bool linked = false;
        std::size_t result;     // its index in `results_`
        bool byRename = false;  // moved by rename (same file system), needing no record
        bool staged = false;    // on its way: in the records folder, checked to be the held file
        bool renamed = false;
    };
    enum class LinkTry { done, gaveUp, failed };

    std::future<HeldBatch> holdAhead(std::size_t from, std::size_t to, std::vector<Step> release);
    void deliverBatch(std::size_t start, std::size_t end, HeldBatch& held);
    void prepare(const WaitingText& text, Hold held, std::string title, bool recordedHere);
    bool settleEarlier(Step& step);
    void recordChoices();
    bool moveIntoFolder(Step& step);
    void moveByRename(Step& step);
    int stage(Step& step, const std::string& moving);
    void moveFailed(Step& step, const std::string& moving, int error);
    void linkOrCopy(Step& step);
    LinkTry tryLink(Step& step);
    bool recoverFromLinkError(Step& step, int error);
    void syncFolder();
    void movedNotSynced(const std::string& why);
    void syncMoves();
    void leaveImportFolder();
    void fail(Step& step, std::string why);
    bool chooseName(Step& step);
    [[nodiscard]] std::string noFreeName(const Step& step) const;
    HandOver& resultOf(const Step& step) { return results_[step.result]; }

    const std::vector<WaitingText>& texts_;
    const DeliveryFolder& folder_;
    const int imported_;
    const int claims_;
    const std::string claimsPath_;
    std::vector<HandOver>& results_;
    // Whether the file system moves without replacing (renameat2 RENAME_NOREPLACE); where it
    // does not, each text is linked and removed under a record instead.
    bool renameWorks_ = true;
    // Whether the folder takes links; where it does not (FAT), each text is copied and the copy
    // renamed to its name without replacing anything (`noReplaceWorks_`: in one step), under the
    // names such folders take.
    bool linksWork_ = true;
    bool noReplaceWorks_ = true;
    bool wholeSync_ = false;          // this batch syncs the whole file system once, not each file
    std::vector<Step> steps_;         // this batch's texts on their way
    std::set<std::string> chosen_;    // names this batch has taken in the folder
    std::vector<std::size_t> moved_;  // results of texts moved by renames, not synced yet
};

}  // namespace reader::internal
