// FolderWalk: the one way down a container to the import folder, for the writer and every
// reader of it.
//
// The promise, kept the same on both sides of the hand-over:
// - the folder holding the container may be reached through links (it is the person's own
//   setting, and may live on another disk); the container and every folder below it are
//   opened by descriptors, each relative to its parent with O_NOFOLLOW, never through a link;
// - a folder of the walk is used only when it is a real folder of this user: a link, anything
//   that is not a folder, or another user's folder is refused, naming it and saying why, before
//   anything is read, written, removed or changed below it;
// - a folder the walk makes is owner-only (0700) whatever the umask, and its parent is synced
//   so that it stays made; a folder of this user that an earlier run or another program left
//   with other modes is made owner-only too. Where the file system keeps no modes of its own
//   (FAT, some FUSE file systems) a folder is used as the mount made it, unless that lets other
//   users write it.
// Every call goes through the SystemCalls given, so tests can make any of them fail.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <string_view>

#include "handover/Descriptor.h"
#include "handover/SystemCalls.h"

namespace handover {

// Why a walk stopped: a folder it refused, or a call the system failed.
struct WalkFailure {
    enum class Kind {
        missing,       // the folder does not exist (error ENOENT)
        link,          // it is a symbolic link (ELOOP)
        notFolder,     // it is something other than a folder (ENOTDIR); `type` says what
        otherUser,     // it belongs to another user (EPERM); `owner` says whom
        openToOthers,  // others may write it and its file system keeps no modes (EPERM)
        system,        // a call failed; `what` says which step, `error` why
    };
    Kind kind = Kind::system;
    int error = 0;     // the errno the walk reports
    std::string path;  // the folder, as the caller shows it
    std::string what;  // missing, system: the step, naming the folder ("opening folder P")
    mode_t type = 0;   // link, notFolder: the entry's type bits
    uid_t owner = 0;   // otherUser: the folder's owner

    // Whether the walk refused the folder (rather than the system failing a call).
    [[nodiscard]] bool refused() const { return kind != Kind::missing && kind != Kind::system; }
    // The refusal as a sentence naming the folder ("P is a symbolic link, which is never
    // followed"); `use` completes "so it is not ..." for another user's folder. For a missing
    // folder or a failed call, `what`.
    [[nodiscard]] std::string sentence(std::string_view use = "used") const;
};

// A folder reached by a walk, and the folder holding it.
struct WalkedFolder {
    Descriptor parent;
    Descriptor folder;  // none when the walk failed
    std::string name;   // the folder's name in its parent
    std::string shown;  // the folder as shown: the container, "/", the components walked
};

// What a walk does with a folder of its path that does not exist.
enum class Missing {
    report,  // stop with WalkFailure::Kind::missing (a reader: nothing was sent yet)
    make,    // make it owner-only (the writer); the container itself is never made here
};

class FolderWalk {
  public:
    explicit FolderWalk(SystemCalls& calls = SystemCalls::direct()) : calls_(calls) {}

    // From the container at `container` (a path) down `below` (a relative path such as
    // "regular/imported"): the last folder and the one holding it (the container when `below`
    // has one component). On failure `folder` is empty and `failure` says why; a `below`
    // without a folder in it fails with EINVAL. Folders are shown as `container` + "/" + the
    // components walked.
    [[nodiscard]] WalkedFolder down(const std::string& container, std::string_view below,
                                    Missing missing, WalkFailure* failure) const;

    // The folder at `path` as the path reaches it, links included: where a walk starts, the
    // folder holding the container.
    [[nodiscard]] Descriptor openStart(const std::string& path, WalkFailure* failure) const;

    // The existing folder `name` in `parent`, only when it is a real folder of this user, never
    // reached through a link. `opened` gets its status.
    [[nodiscard]] Descriptor openOwn(int parent, const std::string& name, const std::string& shown,
                                     WalkFailure* failure, struct ::stat* opened = nullptr) const;

    // The folder `name` in `parent`, made when missing, only when it is a real folder of this
    // user, owner-only (see the promise above); a folder made here is recorded by syncing
    // `parent`.
    [[nodiscard]] Descriptor makeOwn(int parent, const std::string& name, const std::string& shown,
                                     WalkFailure* failure) const;

    // Gives `fd` exactly `mode`; where its file system keeps no modes (the change is refused as
    // not supported or not permitted) it is left as the mount made it unless others may write
    // it. False with `failure` set otherwise.
    bool setOwnerOnly(int fd, mode_t mode, const std::string& shown, WalkFailure* failure) const;

  private:
    SystemCalls& calls_;
};

}  // namespace handover
