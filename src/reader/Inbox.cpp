#include "reader/Inbox.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "handover/ContainerLocation.h"
#include "reader/internal/DeliveryRecords.h"
#include "reader/internal/FolderDelivery.h"
#include "reader/internal/FolderWalk.h"
#include "reader/internal/Holding.h"
#include "reader/internal/Listing.h"
#include "reader/internal/SetAside.h"

namespace reader {
namespace {

using namespace internal;

// Whether `path` is `folder` or below it, links resolved.
bool inside(const std::string& path, const std::string& folder) {
    char* resolvedPath = ::realpath(path.c_str(), nullptr);
    char* resolvedFolder = ::realpath(folder.c_str(), nullptr);
    bool result = false;
    if (resolvedPath && resolvedFolder) {
        const std::string a = resolvedPath, b = resolvedFolder;
        result = a == b || a.starts_with(b + "/");
    }
    std::free(resolvedPath);
    std::free(resolvedFolder);
    return result;
}

// Clears what readers killed half-way left in the records folder of `folders`, if it has one.
void sweepLeftovers(const Folders& folders) {
    if (!folders.imported)
        return;
    bool missing = false;
    std::string problem;
    Fd claims = openOwnFolder(folders.regular.get(), kClaimsFolder, {}, &missing, &problem);
    if (!claims)
        return;
    sweepAside(claims.get(), folders.imported.get());
    sweepRecords(claims.get(), folders.imported.get());
}

}  // namespace

Inbox::Inbox(std::string root)
    : root_(std::move(root)), importFolder_(handover::importFolderPath(root_)) {}

std::optional<Listing> Inbox::list(std::string* problem, Titles titles) const {
    return listTexts(root_, importFolder_, titles, problem);
}

std::vector<HandOver> Inbox::deliver(const std::vector<WaitingText>& texts,
                                     const DeliveryFolder& folder,
                                     const std::function<bool()>& keepGoing) {
    std::vector<HandOver> results;
    std::string problem;
    Folders folders = openFolders(root_, &problem);
    if (texts.empty()) {
        // Nothing to deliver; what killed readers left behind is still cleared.
        sweepLeftovers(folders);
        return results;
    }
    auto failAll = [&](const std::string& why) {
        for (const WaitingText& text : texts)
            results.push_back(
                {text.id,
                 folders.missing && why.empty() ? Outcome::notWaiting : Outcome::failed,
                 {},
                 why});
        return results;
    };
    if (!problem.empty() || folders.missing)
        return failAll(problem);
    // Nothing of a reader's ever lands inside the import folder: delivering into it (or into a
    // folder below it) would make texts of deliveries.
    if (inside(folder.path(), importFolder_))
        return failAll(folder.path() + " is inside the import folder " + importFolder_ +
                       "; deliver into a folder of your own");
    const std::string claimsPath =
        handover::groupContainerPath(root_) + "/regular/" + kClaimsFolder;
    Fd claims = openClaims(folders.regular.get(), claimsPath, &problem);
    if (!claims)
        return failAll(problem);
    const int imported = folders.imported.get();
    sweepAside(claims.get(), imported);
    sweepRecords(claims.get(), imported);
    FolderDelivery(texts, folder, imported, claims.get(), claimsPath, results).run(keepGoing);
    return results;
}

HandOver Inbox::take(const WaitingText& text, const std::function<bool(const HeldText&)>& consume) {
    std::string problem;
    Folders folders = openFolders(root_, &problem);
    if (!problem.empty())
        return {text.id, Outcome::failed, {}, problem};
    if (folders.missing)
        return {text.id, Outcome::notWaiting, {}, {}};
    const int imported = folders.imported.get();
    Hold held = hold(imported, text.id, text.path);
    if (!held.fd) {
        HandOver result{text.id};
        reportNotHeld(held, result);
        return result;
    }
    // A record exists only if a delivery into a folder was under way: settle it first. The
    // records folder is also where the name is set aside when the text leaves.
    const std::string claimsPath =
        handover::groupContainerPath(root_) + "/regular/" + kClaimsFolder;
    bool missing = false;
    std::string why;
    Fd claims = openOwnFolder(folders.regular.get(), kClaimsFolder, claimsPath, &missing, &why);
    if (!claims && !missing)
        return {text.id, Outcome::failed, {}, why};
    // Made when missing, for setting names aside; where it cannot be made, no record exists
    // either, and the name is looked at just before it is removed.
    if (missing)
        claims = openClaims(folders.regular.get(), claimsPath, &why);
    std::string deliveredTo;
    switch (claims ? settle(claims.get(), text.id, nullptr, held, &deliveredTo, &why)
                   : Settled::nothingRecorded) {
        case Settled::failed:
            return {text.id, Outcome::failed, {}, why};
        case Settled::delivered:
            if (!removeHeld(imported, claims.get(), text.id, held.status) ||
                syncRetrying(imported) != 0)
                return {text.id, Outcome::failed, {}, failure("removing " + text.path, errno)};
            (void)::unlinkat(claims.get(), text.id.c_str(), 0);
            return {text.id, Outcome::handedOver, deliveredTo, {}};
        case Settled::nothingRecorded:
            break;
    }
    if (!consume(HeldText{text, held.fd.get()}))
        return {text.id, Outcome::kept, {}, {}};
    // Whatever was renamed over the name while the consumer had the text stays waiting.
    if (!removeHeld(imported, claims.get(), text.id, held.status))
        return {text.id, Outcome::failed, {}, failure("removing " + text.path, errno)};
    if (syncRetrying(imported) != 0)
        return {text.id, Outcome::failed, {}, failure("syncing " + importFolder_, errno)};
    return {text.id, Outcome::handedOver, {}, {}};
}

void Inbox::tidy() {
    std::string problem;
    sweepLeftovers(openFolders(root_, &problem));
}

}  // namespace reader
