#include "reader/FolderWatch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>

#include "reader/internal/Files.h"

namespace reader {

using internal::failure;

FolderWatch::FolderWatch(std::string importFolder)
    : importFolder_(std::move(importFolder)), fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

FolderWatch::~FolderWatch() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool FolderWatch::arm(std::string* problem) {
    return armAt(problem, 0);
}

bool FolderWatch::armAt(std::string* problem, int depth) {
    if (fd_ < 0) {
        *problem = failure("watching " + importFolder_, errno);
        return false;
    }
    // The folder itself when it is there, and its parent (which sees it replaced by a link or
    // a file); else the nearest existing parent, for the next folder of the path to appear.
    // Adding a watch to what is watched already keeps its number, so only watches of what is
    // no longer watched are removed (each removal queues one IN_IGNORED, which wait() skips).
    constexpr std::uint32_t kLanded =
        IN_CREATE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW;
    constexpr std::uint32_t kParent =
        IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM | IN_ONLYDIR | IN_DONT_FOLLOW;
    std::vector<int> armed;
    std::string path = importFolder_;
    for (;;) {
        const int watch = ::inotify_add_watch(fd_, path.c_str(), kLanded);
        if (watch >= 0) {
            armed.push_back(watch);
            if (path == importFolder_) {
                const std::string parent = path.substr(0, path.rfind('/'));
                const int up = ::inotify_add_watch(fd_, parent.c_str(), kParent);
                if (up >= 0 && up != watch)
                    armed.push_back(up);
            }
            break;
        }
        if (errno != ENOENT && errno != ENOTDIR && errno != EACCES) {
            *problem = failure("watching " + path, errno);
            return false;
        }
        const std::size_t slash = path.rfind('/');
        if (slash == std::string::npos || path == "/") {
            *problem = "nothing of " + importFolder_ + " can be watched";
            return false;
        }
        path = slash == 0 ? "/" : path.substr(0, slash);
    }
    for (const int watch : watches_)
        if (std::find(armed.begin(), armed.end(), watch) == armed.end())
            (void)::inotify_rm_watch(fd_, watch);
    watches_ = std::move(armed);
    // The next folder of the path may have been made after it was found missing and before its
    // parent was watched: its making was then seen by nobody, and nothing more would wake a
    // wait for what lands inside it. Look once more, and watch deeper when it is there.
    if (path != importFolder_) {
        const std::size_t end = importFolder_.find('/', path == "/" ? 1 : path.size() + 1);
        const std::string next = importFolder_.substr(0, end);
        struct ::stat status {};
        if (::lstat(next.c_str(), &status) == 0 && depth < 64)
            return armAt(problem, depth + 1);
    }
    return true;
}

bool FolderWatch::wait(int timeoutMs, int otherFd) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        int left = timeoutMs;
        if (timeoutMs >= 0) {
            left = static_cast<int>(
                std::max<long long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(
                                           deadline - std::chrono::steady_clock::now())
                                           .count()));
        }
        struct pollfd fds[2] = {{fd_, POLLIN, 0}, {otherFd, POLLIN, 0}};
        const int ready = ::poll(fds, otherFd >= 0 ? 2 : 1, left);
        if (ready <= 0 || !(fds[0].revents & POLLIN))
            return false;
        // Only the end of a watch this object removed itself is no news.
        bool news = false;
        alignas(struct inotify_event) char buffer[16384];
        ssize_t got = 0;
        while ((got = ::read(fd_, buffer, sizeof buffer)) > 0) {
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + at);
                const bool removedHere =
                    (event->mask & IN_IGNORED) &&
                    std::find(watches_.begin(), watches_.end(), event->wd) == watches_.end();
                news = news || !removedHere;
                at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
            }
        }
        if (news)
            return true;
    }
}

}  // namespace reader
