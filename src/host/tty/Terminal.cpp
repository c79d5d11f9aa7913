#include "host/tty/Terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <utility>

namespace host {
namespace {

// Alternate screen, cursor hidden, no automatic wrap at the right margin (a full row must not
// scroll the screen), cleared. Leaving resets the rendition and undoes each of these.
constexpr char kEnterSequence[] = "\x1b[?1049h\x1b[?25l\x1b[?7l\x1b[H\x1b[2J";
constexpr char kLeaveSequence[] = "\x1b[0m\x1b[?7h\x1b[?25h\x1b[?1049l";

// The signals that end the program by default and that a person or the system may send while
// the terminal is taken over.
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGSEGV,
                                  SIGBUS, SIGFPE,  SIGILL, SIGABRT};

// A lone Esc is the Esc key when nothing follows it within this time; a key's sequence arrives
// in one piece far sooner.
constexpr std::chrono::milliseconds kEscapeQuietTime(40);

// What the signal handlers read. Set before the handlers are installed and while the ending
// signals are blocked, so a handler never sees them half-written.
int gTerminalFd = -1;
struct termios gSavedMode;
volatile sig_atomic_t gEntered = 0;
int gResizePipe[2] = {-1, -1};
struct sigaction gPreviousActions[std::size(kEndingSignals)];
bool gInstalled[std::size(kEndingSignals)] = {};
struct sigaction gPreviousResizeAction;

// Async-signal-safe.
void writeAll(int fd, const char* bytes, std::size_t length) {
    while (length > 0) {
        const ssize_t written = ::write(fd, bytes, length);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        bytes += written;
        length -= static_cast<std::size_t>(written);
    }
}

// Async-signal-safe: puts the screen, cursor and mode back once.
void restoreTerminal() {
    if (!gEntered)
        return;
    gEntered = 0;
    writeAll(gTerminalFd, kLeaveSequence, sizeof kLeaveSequence - 1);
    ::tcsetattr(gTerminalFd, TCSADRAIN, &gSavedMode);
}

void onEndingSignal(int signal) {
    const int savedErrno = errno;
    restoreTerminal();
    // Hand the signal to whoever had it before (by default: end the program). It is blocked
    // while this handler runs, so it is delivered to that action as soon as this one returns.
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
        if (kEndingSignals[i] == signal && gInstalled[i]) {
            ::sigaction(signal, &gPreviousActions[i], nullptr);
            gInstalled[i] = false;
        }
    }
    ::raise(signal);
    errno = savedErrno;
}

void onResize(int) {
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(gResizePipe[1], &byte, 1);
    errno = savedErrno;
}

sigset_t endingSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : kEndingSignals)
        sigaddset(&set, signal);
    return set;
}

}  // namespace

std::unique_ptr<Terminal> Terminal::open(std::string* problem) {
    const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 || !::isatty(fd)) {
        if (fd >= 0)
            ::close(fd);
        *problem = "the process has no terminal";
        return nullptr;
    }
    if (gResizePipe[0] < 0 && ::pipe2(gResizePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        ::close(fd);
        *problem = "cannot watch the terminal's size";
        return nullptr;
    }
    return std::unique_ptr<Terminal>(new Terminal(fd));
}

Terminal::Terminal(int fd)
    : fd_(fd),
      depth_(
          colourDepthFor(std::getenv("NO_COLOR"), std::getenv("TERM"), std::getenv("COLORTERM"))) {}

Terminal::~Terminal() {
    leave();
    ::close(fd_);
}

void Terminal::enter() {
    if (entered_)
        return;
    if (gEntered)
        throw std::logic_error("another terminal screen is already showing");
    struct termios saved;
    if (::tcgetattr(fd_, &saved) != 0)
        throw std::runtime_error("cannot read the terminal's mode");

    const sigset_t ending = endingSignalSet();
    sigset_t previousMask;
    ::pthread_sigmask(SIG_BLOCK, &ending, &previousMask);
    gTerminalFd = fd_;
    gSavedMode = saved;
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
        struct sigaction current;
        ::sigaction(kEndingSignals[i], nullptr, &current);
        // A signal the program was started to ignore stays ignored.
        if (current.sa_handler == SIG_IGN)
            continue;
        struct sigaction action {};
        action.sa_handler = onEndingSignal;
        sigemptyset(&action.sa_mask);
        gInstalled[i] = ::sigaction(kEndingSignals[i], &action, &gPreviousActions[i]) == 0;
    }
    struct sigaction resize {};
    resize.sa_handler = onResize;
    resize.sa_flags = SA_RESTART;
    sigemptyset(&resize.sa_mask);
    ::sigaction(SIGWINCH, &resize, &gPreviousResizeAction);

    struct termios raw = saved;
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP | BRKINT);
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL | IEXTEN);
    raw.c_lflag |= ISIG;
    raw.c_cc[VSUSP] = _POSIX_VDISABLE;
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    // Keys typed before the screen appeared are dropped: nobody can have meant them for it.
    ::tcsetattr(fd_, TCSAFLUSH, &raw);
    gEntered = 1;
    entered_ = true;
    writeAll(fd_, kEnterSequence, sizeof kEnterSequence - 1);
    ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
}

void Terminal::leave() {
    if (!entered_)
        return;
    entered_ = false;
    const sigset_t ending = endingSignalSet();
    sigset_t previousMask;
    ::pthread_sigmask(SIG_BLOCK, &ending, &previousMask);
    restoreTerminal();
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
        if (gInstalled[i])
            ::sigaction(kEndingSignals[i], &gPreviousActions[i], nullptr);
        gInstalled[i] = false;
    }
    ::sigaction(SIGWINCH, &gPreviousResizeAction, nullptr);
    ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
}

int Terminal::rows() const {
    struct winsize size {};
    return ::ioctl(fd_, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 ? size.ws_row : 24;
}

int Terminal::columns() const {
    struct winsize size {};
    return ::ioctl(fd_, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

void Terminal::write(std::string_view bytes) {
    writeAll(fd_, bytes.data(), bytes.size());
}

void Terminal::present(const std::vector<std::string>& rows) {
    std::string out;
    if (shown_.size() != rows.size()) {
        out += "\x1b[0m\x1b[2J";
        shown_.clear();
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i < shown_.size() && shown_[i] == rows[i])
            continue;
        out += "\x1b[" + std::to_string(i + 1) + ";1H" + rows[i];
    }
    write(out);
    shown_ = rows;
}

std::vector<Key> Terminal::readKeys(std::chrono::milliseconds timeout) {
    std::vector<Key> keys;
    const bool unfinished = !pending_.empty();
    if (unfinished)
        timeout = std::min(timeout, kEscapeQuietTime);
    struct pollfd watched[2] = {{fd_, POLLIN, 0}, {gResizePipe[0], POLLIN, 0}};
    const int ready = ::poll(watched, gone_ ? 0 : 2, static_cast<int>(timeout.count()));
    if (ready < 0)
        return keys;  // interrupted by a signal; the caller comes back
    if (watched[1].revents & POLLIN)
        resized_ = takeResize() || resized_;
    bool quiet = unfinished;
    if (watched[0].revents & (POLLIN | POLLHUP | POLLERR)) {
        char buffer[512];
        const ssize_t count = ::read(fd_, buffer, sizeof buffer);
        if (count > 0) {
            pending_.append(buffer, static_cast<std::size_t>(count));
            quiet = false;
        } else if (count == 0 || (errno != EINTR && errno != EAGAIN)) {
            gone_ = true;
        }
    }
    decodeKeys(pending_, keys, quiet);
    return keys;
}

bool Terminal::takeResize() {
    char drain[64];
    bool resized = std::exchange(resized_, false);
    while (::read(gResizePipe[0], drain, sizeof drain) > 0)
        resized = true;
    if (resized)
        redrawAll();
    return resized;
}

}  // namespace host
