#include "host/tty/Terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

namespace host {
namespace {

// The signals whose default action ends the program (the real-time ones are added at run
// time). A person, the system or a resource limit may send any of them while the terminal is
// taken over.
constexpr int kEndingSignals[] = {
    SIGHUP,    SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT, SIGBUS,
    SIGFPE,    SIGUSR1, SIGSEGV,   SIGUSR2, SIGPIPE, SIGALRM, SIGTERM,
    SIGXCPU,   SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,  SIGSYS,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};

// A lone Esc is the Esc key when nothing follows it within this time; a key's sequence arrives
// in one piece far sooner.
constexpr std::chrono::milliseconds kEscapeQuietTime(40);
// How long the terminal may take to say where its cursor is, for all the probes together. A
// terminal that does not answer costs this once, at start; an answer that comes later is a
// control sequence of no key, and dropped.
constexpr std::chrono::milliseconds kCursorReportPatience(400);

// Takes the cursor-position reports "ESC [ row ; column R" out of `input`, appending each
// column (from 1) to `columns`; the rest stays, and an unfinished report at the end waits for
// its remaining bytes.
void takeCursorReports(std::string& input, std::vector<int>& columns) {
    std::string rest;
    std::size_t i = 0;
    while (i < input.size()) {
        if (input[i] != '\x1b') {
            rest += input[i++];
            continue;
        }
        std::size_t end = i + 1;
        int numbers[2] = {0, 0};
        int which = 0;
        bool shaped = end < input.size() && input[end] == '[';
        for (++end; shaped && end < input.size(); ++end) {
            const char c = input[end];
            if (c >= '0' && c <= '9' && numbers[which] < 100000)
                numbers[which] = numbers[which] * 10 + (c - '0');
            else if (c == ';' && which == 0)
                which = 1;
            else
                break;
        }
        if (shaped && end == input.size()) {
            rest += input.substr(i);  // unfinished
            break;
        }
        if (shaped && which == 1 && input[end] == 'R') {
            columns.push_back(numbers[1]);
            i = end + 1;
            continue;
        }
        rest += input[i++];
    }
    input = std::move(rest);
}

// What the signal handlers read. Set before the handlers are installed and while the handled
// signals are blocked, so a handler never sees them half-written; fixed buffers, since a
// handler may not allocate. A handler may also run on another thread (a signal held while a
// saved text is reported is answered there), so the flag that says the terminal is taken over
// is a lock-free atomic: setting it publishes the mode and sequences written before it, and
// only one of two threads giving the terminal back at once does so.
int gTerminalFd = -1;
struct termios gSavedMode;
std::atomic<int> gEntered{0};
static_assert(std::atomic<int>::is_always_lock_free, "read in signal handlers");
int gResizePipe[2] = {-1, -1};
struct SequenceBuffer {
    char bytes[512];
    std::size_t length = 0;
    void set(std::string_view text) {
        length = std::min(text.size(), sizeof bytes);
        std::copy_n(text.data(), length, bytes);
    }
};
SequenceBuffer gEnterSequence, gLeaveSequence;
struct sigaction gPreviousActions[NSIG];
bool gInstalled[NSIG] = {};
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

// Keys one by one, no echo, no flow control; the keys that send signals still do.
struct termios rawModeOf(const struct termios& saved) {
    struct termios raw = saved;
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP | BRKINT);
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL | IEXTEN);
    raw.c_lflag |= ISIG;
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    return raw;
}

// Async-signal-safe: puts the screen, cursor and mode back once.
void restoreTerminal() {
    if (gEntered.exchange(0) == 0)
        return;
    writeAll(gTerminalFd, gLeaveSequence.bytes, gLeaveSequence.length);
    ::tcsetattr(gTerminalFd, TCSADRAIN, &gSavedMode);
}

// Async-signal-safe: takes the terminal over (again), keeping its present mode to restore.
void takeOverTerminal(int how) {
    if (::tcgetattr(gTerminalFd, &gSavedMode) != 0)
        return;
    const struct termios raw = rawModeOf(gSavedMode);
    ::tcsetattr(gTerminalFd, how, &raw);
    gEntered = 1;
    writeAll(gTerminalFd, gEnterSequence.bytes, gEnterSequence.length);
}

void onEndingSignal(int signal) {
    const int savedErrno = errno;
    restoreTerminal();
    // Hand the signal to whoever had it before (by default: end the program). It is blocked
    // while this handler runs, so it is delivered to that action as soon as this one returns.
    if (gInstalled[signal]) {
        ::sigaction(signal, &gPreviousActions[signal], nullptr);
        gInstalled[signal] = false;
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

// Ctrl+Z: give the terminal back, stop as the default action would, and take the terminal over
// again once continued; the byte on the resize pipe has the next frame drawn whole.
void onSuspend(int) {
    const int savedErrno = errno;
    const bool wasEntered = gEntered;
    restoreTerminal();
    struct sigaction stop {
    }, ours;
    stop.sa_handler = SIG_DFL;
    sigemptyset(&stop.sa_mask);
    ::sigaction(SIGTSTP, &stop, &ours);
    sigset_t suspend;
    sigemptyset(&suspend);
    sigaddset(&suspend, SIGTSTP);
    ::raise(SIGTSTP);
    ::pthread_sigmask(SIG_UNBLOCK, &suspend, nullptr);  // stops here until continued
    ::pthread_sigmask(SIG_BLOCK, &suspend, nullptr);
    ::sigaction(SIGTSTP, &ours, nullptr);
    if (wasEntered) {
        takeOverTerminal(TCSADRAIN);
        onResize(SIGTSTP);
    }
    errno = savedErrno;
}

// The signals handled while the terminal is taken over: the ending ones and Ctrl+Z's.
std::vector<int> handledSignals() {
    std::vector<int> signals(std::begin(kEndingSignals), std::end(kEndingSignals));
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal)
        signals.push_back(signal);
    signals.push_back(SIGTSTP);
    return signals;
}

sigset_t signalSet(const std::vector<int>& signals) {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : signals)
        sigaddset(&set, signal);
    return set;
}

}  // namespace

std::unique_ptr<Terminal> Terminal::open(std::string* problem) {
    const char* term = std::getenv("TERM");
    auto capabilities = TerminalCapabilities::load(term);
    if (!capabilities || !capabilities->canAddressCursor()) {
        const std::string type = term ? term : "";
        *problem = type.empty()   ? "TERM is not set"
                   : capabilities ? "the terminal type '" + type + "' cannot move its cursor"
                                  : "the terminal type '" + type + "' is unknown";
        return nullptr;
    }
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
    return std::unique_ptr<Terminal>(new Terminal(fd, std::move(*capabilities)));
}

Terminal::Terminal(int fd, TerminalCapabilities capabilities)
    : fd_(fd),
      caps_(std::move(capabilities)),
      depth_(colourDepthFor(std::getenv("NO_COLOR"), std::getenv("COLORTERM"), caps_.colours)) {}

Terminal::~Terminal() {
    leave();
    ::close(fd_);
}

void Terminal::enter() {
    if (entered_)
        return;
    if (gEntered)
        throw std::logic_error("another terminal screen is already showing");
    struct termios probe;
    if (::tcgetattr(fd_, &probe) != 0)
        throw std::runtime_error("cannot read the terminal's mode");

    const std::vector<int> signals = handledSignals();
    const sigset_t handled = signalSet(signals);
    sigset_t previousMask;
    ::pthread_sigmask(SIG_BLOCK, &handled, &previousMask);
    gTerminalFd = fd_;
    // The alternate screen, cursor hidden, no automatic wrap at the right margin (a full row
    // must not scroll the screen), the keys' own sequences, cleared. Leaving undoes each; a
    // terminal without an alternate screen is cleared instead, so the text does not linger.
    gEnterSequence.set(caps_.enterScreen + caps_.hideCursor + caps_.wrapOff + caps_.keypadOn +
                       caps_.clearScreen);
    gLeaveSequence.set(caps_.resetRendition + caps_.keypadOff + caps_.wrapOn + caps_.showCursor +
                       (caps_.leaveScreen.empty() ? caps_.clearScreen : caps_.leaveScreen));
    for (const int signal : signals) {
        struct sigaction current;
        ::sigaction(signal, nullptr, &current);
        // A signal the program was started to ignore, or chose to, stays ignored.
        if (current.sa_handler == SIG_IGN)
            continue;
        struct sigaction action {};
        action.sa_handler = signal == SIGTSTP ? onSuspend : onEndingSignal;
        action.sa_mask = handled;  // one handler at a time touches the terminal
        gInstalled[signal] = ::sigaction(signal, &action, &gPreviousActions[signal]) == 0;
    }
    struct sigaction resize {};
    resize.sa_handler = onResize;
    resize.sa_flags = SA_RESTART;
    sigemptyset(&resize.sa_mask);
    ::sigaction(SIGWINCH, &resize, &gPreviousResizeAction);

    // Keys typed before the screen appeared are dropped: nobody can have meant them for it.
    takeOverTerminal(TCSAFLUSH);
    entered_ = true;
    ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    if (!widthsAsked_) {
        widthsAsked_ = true;
        askWidthRule();
    }
}

// Draws each probe at the top left of the (alternate, cleared) screen and asks where the cursor
// went: the column it reached, less one, is the width the terminal gave the probe. Keys typed
// meanwhile are kept for readKeys.
void Terminal::askWidthRule() {
    const auto& probes = widthProbes();
    if (caps_.cursorReport.empty()) {
        setWidthRule(widthRuleFor({}));
        return;
    }
    std::string out;
    for (const std::string_view probe : probes)
        out += caps_.moveTo(0, 0) + std::string(probe) + caps_.cursorReport;
    write(out + caps_.clearScreen);
    std::vector<int> columns;
    std::string input;
    const auto deadline = std::chrono::steady_clock::now() + kCursorReportPatience;
    while (columns.size() < probes.size()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        struct pollfd watched {
            fd_, POLLIN, 0
        };
        if (left.count() <= 0 || ::poll(&watched, 1, static_cast<int>(left.count())) <= 0) {
            if (left.count() <= 0 || errno != EINTR)
                break;
            continue;
        }
        char buffer[256];
        const ssize_t count = ::read(fd_, buffer, sizeof buffer);
        if (count <= 0)
            break;
        input.append(buffer, static_cast<std::size_t>(count));
        takeCursorReports(input, columns);
    }
    pending_ += input;
    std::vector<std::optional<int>> measured;
    for (const int column : columns)
        measured.emplace_back(column - 1);
    setWidthRule(widthRuleFor(measured));
}

void Terminal::leave() {
    if (!entered_)
        return;
    entered_ = false;
    const std::vector<int> signals = handledSignals();
    const sigset_t handled = signalSet(signals);
    sigset_t previousMask;
    ::pthread_sigmask(SIG_BLOCK, &handled, &previousMask);
    restoreTerminal();
    for (const int signal : signals) {
        if (gInstalled[signal])
            ::sigaction(signal, &gPreviousActions[signal], nullptr);
        gInstalled[signal] = false;
    }
    ::sigaction(SIGWINCH, &gPreviousResizeAction, nullptr);
    ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
}

void Terminal::showMessage(std::string_view line) {
    enter();
    shown_.clear();
    write(caps_.clearScreen + caps_.moveTo(0, 0) + std::string(line));
}

void Terminal::discardTypedKeys() {
    ::tcflush(fd_, TCIFLUSH);
    pending_.clear();
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
        out += caps_.resetRendition + caps_.clearScreen;
        shown_.clear();
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i < shown_.size() && shown_[i] == rows[i])
            continue;
        out += caps_.moveTo(static_cast<int>(i), 0) + rows[i];
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
    decodeKeys(pending_, keys, quiet, caps_.keys);
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
