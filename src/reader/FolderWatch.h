// FolderWatch: what wakes a reader when a text may have landed in the import folder.
#pragma once

#include <string>
#include <vector>

namespace reader {

// Wakes a reader when something may have landed in the import folder: inotify on the folder,
// or, while it (or its container) does not exist, on its nearest existing parent, so a folder
// made later, removed or replaced is followed. Never polls.
class FolderWatch {
  public:
    explicit FolderWatch(std::string importFolder);
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // Watches the folder as it is now. Call before listing, and again after each wake: what
    // lands between the two is then seen by the listing or wakes the next wait. False, with the
    // reason in `problem`, when inotify refuses (too many watches or instances).
    bool arm(std::string* problem);

    // Waits until an event arrives, `otherFd` (if >= 0) becomes readable, or `timeoutMs`
    // passes (-1: no limit). Drains the events. Returns true when woken by an event.
    bool wait(int timeoutMs, int otherFd);

    [[nodiscard]] int descriptor() const { return fd_; }

  private:
    bool armAt(std::string* problem, int depth);  // arm(), `depth` looks again so far
    std::string importFolder_;
    int fd_ = -1;
    std::vector<int> watches_;
};

}  // namespace reader
