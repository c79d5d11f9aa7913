#include "reader/internal/Holding.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <string_view>

#include "reader/TextTitle.h"

namespace reader::internal {

bool stillNamed(int imported, const std::string& id, const struct ::stat& held) {
    struct ::stat named {};
    return ::fstatat(imported, id.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           sameFile(named, held);
}

bool noTextAnyMore(int error) {
    return error == ENOENT || error == ELOOP || error == ENXIO || error == ENODEV ||
           error == EISDIR || error == ENOTDIR;
}

Hold notHeld(Hold::State state, std::string problem) {
    Hold held;
    held.state = state;
    held.problem = std::move(problem);
    return held;
}

Hold hold(int imported, const std::string& id, const std::string& path, NameCheck check) {
    Hold held;
    held.fd = Fd(openText(imported, id.c_str()));
    if (!held.fd) {
        const int error = errno;
        return noTextAnyMore(error)
                   ? notHeld(Hold::State::gone)
                   : notHeld(Hold::State::failed, failure("opening " + path, error));
    }
    if (::fstat(held.fd.get(), &held.status) != 0)
        return notHeld(Hold::State::failed, failure("looking at " + path, errno));
    if (!S_ISREG(held.status.st_mode) || held.status.st_uid != ownUser())
        return notHeld(Hold::State::gone);
    if (::flock(held.fd.get(), LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        return error == EWOULDBLOCK
                   ? notHeld(Hold::State::heldElsewhere)
                   : notHeld(Hold::State::failed, failure("locking " + path, error));
    }
    if (check == NameCheck::now && !stillNamed(imported, id, held.status))
        return notHeld(Hold::State::gone);
    held.state = Hold::State::held;
    return held;
}

void reportNotHeld(const Hold& held, HandOver& result) {
    result.outcome = held.state == Hold::State::failed ? Outcome::failed : Outcome::notWaiting;
    result.problem = held.problem;
    result.heldElsewhere = held.state == Hold::State::heldElsewhere;
}

HeldBatch holdBatch(int imported, const std::vector<WaitingText>& texts, std::size_t from,
                    std::size_t to, bool shared) {
    HeldBatch batch;
    batch.holds.resize(to - from);
    batch.titles.resize(to - from);
    shareOut(to - from, shared ? 256 : to - from + 1, [&](std::size_t first, std::size_t step) {
        std::string head(kTitleReadLimit, '\0');
        for (std::size_t i = first; i < batch.holds.size(); i += step) {
            const WaitingText& text = texts[from + i];
            batch.holds[i] = hold(imported, text.id, text.path, NameCheck::later);
            if (!batch.holds[i].fd)
                continue;
            const ssize_t got = readHead(batch.holds[i].fd.get(), head);
            if (got < 0)
                batch.holds[i] =
                    notHeld(Hold::State::failed, failure("reading " + text.path, errno));
            else
                batch.titles[i] =
                    titleOf(std::string_view(head.data(), static_cast<std::size_t>(got)));
        }
    });
    return batch;
}

}  // namespace reader::internal

namespace reader {

using internal::sameFile;

int HeldText::openSeparately() const {
    const std::string procPath = "/proc/self/fd/" + std::to_string(descriptor);
    int fd = ::open(procPath.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0 || errno != ENOENT)
        return fd;
    fd = ::open(text.path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct ::stat mine {
    }, theirs{};
    if (::fstat(fd, &mine) != 0 || ::fstat(descriptor, &theirs) != 0 || !sameFile(mine, theirs)) {
        ::close(fd);
        errno = ESTALE;
        return -1;
    }
    return fd;
}

}  // namespace reader
