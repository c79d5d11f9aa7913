#include "reader/internal/Listing.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <vector>

#include "reader/TextTitle.h"
#include "reader/internal/FolderWalk.h"
#include "reader/internal/Holding.h"
#include "reader/internal/SetAside.h"

namespace reader::internal {
namespace {

std::string nameReason(const std::string& name) {
    if (name.starts_with(".syncthing.") || name.ends_with(".tmp") || name.starts_with(".~"))
        return "a folder-sync tool's temporary file";
    if (name.find(".sync-conflict-") != std::string::npos ||
        name.find("conflicted copy") != std::string::npos)
        return "a folder-sync tool's conflict copy";
    // Syncthing's marker and ignore patterns live in the folder it keeps in step.
    if (name == ".stfolder" || name == ".stignore" || name == ".stversions")
        return "a folder-sync tool's own entry";
    return "not a sent text's name";
}

// The names in the open import folder (`shown` in messages), "." and ".." left out. False, with
// the reason in `problem`, when it cannot be read.
bool readNames(int imported, const std::string& shown, std::vector<std::string>* names,
               std::string* problem) {
    DIR* dir = readEntries(imported);
    if (!dir) {
        *problem = failure("reading " + shown, errno);
        return false;
    }
    for (;;) {
        errno = 0;
        const struct dirent* entry = ::readdir(dir);
        if (!entry) {
            const int error = errno;
            ::closedir(dir);
            if (error != 0) {
                *problem = failure("reading " + shown, error);
                return false;
            }
            return true;
        }
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            names->emplace_back(name);
    }
}

// What each entry turned out to be, kept small: a listing of 100,000 texts is sorted by its
// order, and only then is each text's entry made, in place.
struct Looked {
    enum class Kind : unsigned char { gone, skipped, text } kind = Kind::gone;
    struct timespec modified {};
    std::uint64_t bytes = 0;
};

// The entries of one listing and what was found out about each.
struct Entries {
    std::vector<std::string> names;
    std::vector<Looked> looked;
    std::vector<std::string> reasons;  // why skipped, or why a text cannot be taken
    std::vector<std::string> heads;    // titles, when read
};

// Looks at entries first, first + step, ... of `entries` in `imported` (and reads each text's
// title with Titles::read).
void lookAt(int imported, Titles titles, Entries& entries, std::size_t first, std::size_t step) {
    std::string head(titles == Titles::read ? kTitleReadLimit : 0, '\0');
    for (std::size_t i = first; i < entries.names.size(); i += step) {
        const std::string& name = entries.names[i];
        Looked& result = entries.looked[i];
        if (!isTextName(name)) {
            result.kind = Looked::Kind::skipped;
            entries.reasons[i] = nameReason(name);
            continue;
        }
        struct ::stat status {};
        if (::fstatat(imported, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
            continue;  // taken meanwhile
        if (!S_ISREG(status.st_mode) || status.st_uid != ownUser()) {
            result.kind = Looked::Kind::skipped;
            entries.reasons[i] = S_ISREG(status.st_mode) ? "belongs to another user (uid " +
                                                               std::to_string(status.st_uid) + ")"
                                                         : kindOf(status.st_mode);
            continue;
        }
        if (titles == Titles::read) {
            Fd fd(openText(imported, name.c_str()));
            if (!fd && noTextAnyMore(errno))
                continue;  // taken (or replaced) meanwhile
            // A text that cannot be opened or read still waits: it is listed with why. Replaced
            // between the look and the open, the title may be another file's; the next listing
            // corrects it, and a hand-over holds and reads the file itself.
            const ssize_t got = fd ? readHead(fd.get(), head) : -1;
            if (got < 0)
                entries.reasons[i] = std::string(fd ? "cannot be read: " : "cannot be opened: ") +
                                     systemReason(errno);
            else
                entries.heads[i] =
                    titleOf(std::string_view(head.data(), static_cast<std::size_t>(got)));
        }
        result.kind = Looked::Kind::text;
        result.modified = status.st_mtim;
        result.bytes = static_cast<std::uint64_t>(status.st_size);
    }
}

// The listing made of what was looked at: the texts oldest first (then by name), the skipped in
// the folder's order.
Listing assemble(const std::string& importFolder, Titles titles, Entries& entries) {
    Listing listing;
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < entries.names.size(); ++i) {
        if (entries.looked[i].kind == Looked::Kind::skipped)
            listing.skipped.push_back({entries.names[i], std::move(entries.reasons[i])});
        else if (entries.looked[i].kind == Looked::Kind::text)
            order.push_back(i);
    }
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const struct timespec& x = entries.looked[a].modified;
        const struct timespec& y = entries.looked[b].modified;
        if (x.tv_sec != y.tv_sec)
            return x.tv_sec < y.tv_sec;
        if (x.tv_nsec != y.tv_nsec)
            return x.tv_nsec < y.tv_nsec;
        return entries.names[a] < entries.names[b];
    });
    listing.texts.resize(order.size());
    for (std::size_t at = 0; at < order.size(); ++at) {
        const std::size_t i = order[at];
        WaitingText& text = listing.texts[at];
        text.path.reserve(importFolder.size() + 1 + entries.names[i].size());
        text.path.append(importFolder).append("/").append(entries.names[i]);
        text.id = std::move(entries.names[i]);
        text.modified = entries.looked[i].modified;
        text.bytes = entries.looked[i].bytes;
        if (titles == Titles::read)
            text.title = std::move(entries.heads[i]);
        text.problem = std::move(entries.reasons[i]);
    }
    return listing;
}

}  // namespace

std::optional<Listing> listTexts(const std::string& root, const std::string& importFolder,
                                 Titles titles, std::string* problem) {
    std::string why;
    Folders folders = openFolders(root, &why);
    if (!why.empty()) {
        *problem = why;
        return std::nullopt;
    }
    if (folders.missing)
        return Listing{};
    // What a reader killed half-way through a hand-over set aside and never handed over still
    // waits: it goes back under its name first, so it is listed.
    bool noClaims = false;
    std::string claimsProblem;  // no records folder to look in: nothing was set aside
    Fd claims = openOwnFolder(folders.regular.get(), kClaimsFolder, {}, &noClaims, &claimsProblem);
    if (claims)
        sweepAside(claims.get(), folders.imported.get(), Sweep::putBackOnly);
    // The names first, then each entry looked at (and its title read) by a few threads at once:
    // a folder of 100,000 texts costs 100,000 opens and reads, which the cores share.
    Entries entries;
    if (!readNames(folders.imported.get(), importFolder, &entries.names, problem))
        return std::nullopt;
    const std::size_t count = entries.names.size();
    entries.looked.resize(count);
    entries.reasons.resize(count);
    entries.heads.resize(titles == Titles::read ? count : 0);
    const int imported = folders.imported.get();
    shareOut(count, 2048, [&](std::size_t first, std::size_t step) {
        lookAt(imported, titles, entries, first, step);
    });
    return assemble(importFolder, titles, entries);
}

}  // namespace reader::internal
