// quorvane-receive: the other end of "Send to Teleprompter". Takes each text waiting in the
// import folder exactly once, into a folder, to a command or to standard output, and shows what
// waits. See receiveUsageText() and the README's "Getting texts out".
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <map>
#include <new>
#include <set>

#include "frame/Base64.h"
#include "frame/Output.h"
#include "frame/Report.h"
#include "frame/StandardStreams.h"
#include "handover/ContainerLocation.h"
#include "reader/Inbox.h"
#include "reader/TextTitle.h"
#include "receive/ReceiveOptions.h"

#ifndef QUORVANE_VERSION
#define QUORVANE_VERSION "unknown"
#endif

extern char** environ;

namespace {

using receive::ExitStatus;
using Clock = std::chrono::steady_clock;

constexpr const char* kProgram = "quorvane-receive";
// A failed hand-over is offered again (with --watch) after this long, doubling each time.
constexpr std::chrono::milliseconds kFirstRetry{1000};
constexpr std::chrono::milliseconds kLongestRetry{300000};
// A text another receiver holds is looked at again after this long, doubling up to the
// longest: its holder may be stopped or killed, which leaves no trace in the folder.
constexpr std::chrono::milliseconds kFirstHeldLook{250};
constexpr std::chrono::milliseconds kLongestHeldLook{2000};

void tell(const std::string& message) {
    frame::tell(kProgram, message);
}

// ---- signals: SIGINT and SIGTERM end the work after the current hand-over ----

volatile sig_atomic_t stopSignal = 0;
int signalPipe[2] = {-1, -1};

void onStopSignal(int signal) {
    const int saved = errno;
    stopSignal = signal;
    const char byte = 0;
    (void)!::write(signalPipe[1], &byte, 1);
    errno = saved;
}

void setUpSignals() {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        signalPipe[0] = signalPipe[1] = -1;
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

// ---- how texts and names are shown ----

std::string utcTime(const struct timespec& time) {
    struct tm parts {};
    ::gmtime_r(&time.tv_sec, &parts);
    char buffer[64];
    const std::size_t length = std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S", &parts);
    char millis[32];
    std::snprintf(millis, sizeof millis, ".%03dZ", static_cast<int>(time.tv_nsec / 1000000 % 1000));
    return std::string(buffer, length) + millis;
}

std::string localTime(const struct timespec& time) {
    struct tm parts {};
    ::localtime_r(&time.tv_sec, &parts);
    char buffer[64];
    return std::string(buffer, std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &parts));
}

// Bytes as a line of a listing or a message may carry them: control characters (tabs, escapes)
// become a space, bytes that are not UTF-8 U+FFFD and the bidirectional controls are dropped,
// so a title can neither break the columns nor steer or reorder a terminal's line.
std::string shown(std::string_view bytes) {
    return reader::plainLine(bytes);
}

// Set when standard output is a terminal: a person reads the JSON there, and a title's
// controls (DEL, C1) and direction marks are written escaped, never acted on.
bool jsonForTerminal = false;

std::string jsonString(std::string_view bytes) {
    std::string out = "\"";
    reader::appendJsonEscaped(out, bytes, nullptr, true, jsonForTerminal);
    return out + "\"";
}

// Bytes that must read back exactly (a path, a text): a JSON string when they are UTF-8, else
// {"base64": "..."} holding them, as the share sheet's JSON writes paths.
std::string jsonExact(std::string_view bytes) {
    return reader::isUtf8(bytes) ? jsonString(bytes)
                                 : "{\"base64\":\"" + frame::base64Of(bytes) + "\"}";
}

std::string jsonHead(const reader::WaitingText& text, std::uint64_t bytes) {
    return "{\"id\":" + jsonString(text.id) + ",\"time\":" + jsonString(utcTime(text.modified)) +
           ",\"title\":" + jsonString(text.title) + ",\"bytes\":" + std::to_string(bytes);
}

// A text as messages name it: its id, and its title when one was read (a hand-over into a
// folder reads the title of the file it holds; the listing before it reads none).
std::string describe(const reader::WaitingText& text, const reader::HandOver* result = nullptr) {
    const std::string& title = text.title.empty() && result ? result->title : text.title;
    return title.empty() ? text.id : text.id + " (\"" + shown(title) + "\")";
}

// ---- the run ----

class Receiver {
  public:
    Receiver(const receive::ReceiveOptions& options, reader::Inbox& inbox, frame::Output& out)
        : options_(options), inbox_(inbox), out_(out) {}

    int run() {
        if (options_.mode == receive::Mode::list)
            return list();
        if (!options_.watch) {
            pass();
            return status();
        }
        reader::FolderWatch watch(inbox_.importFolder());
        while (!stopSignal) {
            std::string problem;
            if (!watch.arm(&problem)) {
                tell(problem);
                return receive::kExitFailed;
            }
            pass();
            if (out_.failed())
                return status();
            if (stopSignal)
                break;
            watch.wait(nextRetryMs(), signalPipe[0]);
        }
        return out_.failed() ? receive::kExitOutputFailed : receive::kExitCompleted;
    }

  private:
    int status() const {
        if (out_.failed())
            return receive::kExitOutputFailed;
        if (anyFailed_)
            return receive::kExitFailed;
        if (interrupted_)
            return 128 + stopSignal;
        return receive::kExitCompleted;
    }

    int list() {
        std::string problem;
        const auto listing = inbox_.list(&problem);
        if (!listing) {
            tell(problem);
            return receive::kExitFailed;
        }
        for (const auto& skipped : listing->skipped)
            tell("left alone in " + inbox_.importFolder() + ": " + shown(skipped.name) + " (" +
                 skipped.reason + ")");
        // A text that waits but cannot be taken now is listed (with an empty title) and named
        // on standard error with why; the status says that not everything can be taken.
        bool anyProblem = false;
        for (const auto& text : listing->texts) {
            if (!text.problem.empty()) {
                anyProblem = true;
                tell(text.id + " waits but " + text.problem);
            }
            if (options_.json) {
                out_ << (jsonHead(text, text.bytes) + ",\"path\":" + jsonExact(text.path) +
                         (text.problem.empty() ? "" : ",\"problem\":" + jsonString(text.problem)) +
                         "}\n");
            } else {
                out_ << (text.id + "\t" + localTime(text.modified) + "\t" +
                         std::to_string(text.bytes) + "\t" + shown(text.title) + "\n");
            }
        }
        if (!out_.flush()) {
            tell("the listing could not be written: " + out_.errorText());
            return receive::kExitOutputFailed;
        }
        return anyProblem ? receive::kExitFailed : receive::kExitCompleted;
    }

    // Hands over what waits now (texts whose retry is not due yet wait for it).
    void pass() {
        std::string problem;
        // Into a folder, each text's title is read once it is held; the listing reads none.
        auto listing =
            inbox_.list(&problem, options_.mode == receive::Mode::to ? reader::Titles::leftOut
                                                                     : reader::Titles::read);
        if (!listing) {
            tell(problem);
            anyFailed_ = true;
            // Nothing in the folder may change when what failed is fixed (a mode, an owner, a
            // descriptor freed): look again after the pause, as for a text that failed.
            lookAgain(folderRetry_, kFolderKey, kFirstRetry, kLongestRetry);
            return;
        }
        folderRetry_.clear();
        std::vector<reader::WaitingText> due;
        const auto now = Clock::now();
        if (retries_.empty() && heldElsewhere_.empty()) {
            due = std::move(listing->texts);
        } else {
            // What no longer waits needs no more looks.
            std::set<std::string> waiting;
            for (const auto& text : listing->texts)
                waiting.insert(text.id);
            for (auto* pending : {&retries_, &heldElsewhere_})
                std::erase_if(*pending,
                              [&](const auto& entry) { return !waiting.count(entry.first); });
            for (auto& text : listing->texts) {
                const auto retry = retries_.find(text.id);
                const auto held = heldElsewhere_.find(text.id);
                if ((retry == retries_.end() || retry->second.at <= now) &&
                    (held == heldElsewhere_.end() || held->second.at <= now))
                    due.push_back(std::move(text));
            }
        }
        if (options_.mode == receive::Mode::to) {
            deliver(due);
            return;
        }
        inbox_.tidy();
        for (const auto& text : due) {
            if (stopSignal) {
                interrupted_ = true;
                return;
            }
            const reader::HandOver result = inbox_.take(text, [&](const reader::HeldText& held) {
                return options_.mode == receive::Mode::exec ? execute(held) : print(held);
            });
            settle(text, result);
            if (out_.failed())
                return;
        }
    }

    void deliver(const std::vector<reader::WaitingText>& texts) {
        std::string problem;
        const auto folder = reader::DeliveryFolder::open(options_.folder, &problem);
        if (!folder && texts.empty())
            return;
        if (!folder) {
            tell(problem + "; " + std::to_string(texts.size()) + " text(s) stay waiting");
            anyFailed_ = true;
            for (const auto& text : texts)
                backOff(text.id);
            return;
        }
        const auto results = inbox_.deliver(texts, *folder, [&] {
            if (stopSignal)
                interrupted_ = true;
            return !stopSignal;
        });
        for (std::size_t i = 0; i < results.size(); ++i)
            settle(texts[i], results[i]);
        if (!out_.flush())
            tell("the delivered files' paths could not be written: " + out_.errorText());
    }

    void settle(const reader::WaitingText& text, const reader::HandOver& result) {
        switch (result.outcome) {
            case reader::Outcome::handedOver:
                retries_.erase(text.id);
                heldElsewhere_.erase(text.id);
                if (!result.deliveredTo.empty()) {
                    if (options_.mode == receive::Mode::to)
                        out_ << result.deliveredTo + "\n";
                    else
                        tell(describe(text, &result) + " had already been delivered to " +
                             result.deliveredTo + "; removed from the import folder");
                }
                break;
            case reader::Outcome::notWaiting:
                retries_.erase(text.id);
                // Another receiver holds it: when that one stops or dies, nothing lands to say
                // so; look again at a short pace.
                if (result.heldElsewhere)
                    lookAgain(heldElsewhere_, text.id, kFirstHeldLook, kLongestHeldLook);
                else
                    heldElsewhere_.erase(text.id);
                break;
            case reader::Outcome::kept:
                anyFailed_ = true;
                backOff(text.id);
                break;
            case reader::Outcome::failed:
                anyFailed_ = true;
                tell(describe(text, &result) + ": " + result.problem +
                     (result.deliveredTo.empty() ? "; it stays waiting"
                                                 : "; it is in " + result.deliveredTo));
                backOff(text.id);
                break;
        }
    }

    struct Retry {
        Clock::time_point at;
        std::chrono::milliseconds delay;
    };
    using Retries = std::map<std::string, Retry>;

    void backOff(const std::string& id) {
        heldElsewhere_.erase(id);
        lookAgain(retries_, id, kFirstRetry, kLongestRetry);
    }

    static void lookAgain(Retries& retries, const std::string& id, std::chrono::milliseconds first,
                          std::chrono::milliseconds longest) {
        auto [entry, fresh] = retries.try_emplace(id, Retry{Clock::now(), first});
        if (!fresh)
            entry->second.delay = std::min(entry->second.delay * 2, longest);
        entry->second.at = Clock::now() + entry->second.delay;
    }

    int nextRetryMs() const {
        if (retries_.empty() && heldElsewhere_.empty() && folderRetry_.empty())
            return -1;
        auto next = Clock::time_point::max();
        for (const auto* pending : {&retries_, &heldElsewhere_, &folderRetry_})
            for (const auto& [id, retry] : *pending)
                next = std::min(next, retry.at);
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
        return static_cast<int>(std::clamp<long long>(wait + 1, 0, 3600 * 1000));
    }

    // Reads the held text's bytes [0, size) in pieces, handing each to `piece`; false (said on
    // standard error) when a read fails or the file ends early.
    bool readHeld(const reader::HeldText& held, std::uint64_t size,
                  const std::function<void(std::string_view)>& piece) {
        // A multiple of three, so that base64 pieces join without padding between them.
        std::string buffer(3 * 21 * 1024, '\0');
        std::uint64_t offset = 0;
        while (offset < size) {
            const auto want =
                static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - offset));
            ssize_t got = 0;
            std::size_t have = 0;
            while (have < want) {
                got = ::pread(held.descriptor, buffer.data() + have, want - have,
                              static_cast<off_t>(offset + have));
                if (got < 0 && errno == EINTR)
                    continue;
                if (got <= 0)
                    break;
                have += static_cast<std::size_t>(got);
            }
            if (have < want) {
                tell(describe(held.text) + ": reading it: " +
                     (got < 0 ? std::strerror(errno) : "it ended before its size") +
                     "; it stays waiting");
                anyFailed_ = true;
                return false;
            }
            piece(std::string_view(buffer.data(), have));
            offset += have;
            if (out_.failed())
                return true;
        }
        return true;
    }

    // --print: the text, framed so that no text can split into two records or run into the
    // next: raw; -0: ended by a NUL, so a text holding one is refused (it stays waiting); JSON:
    // one object a line, the text a string when it is UTF-8, else {"base64": "..."}, `bytes`
    // always the size of the file. Then flushed; false (the text stays) when anything fails.
    bool print(const reader::HeldText& held) {
        struct ::stat status {};
        if (::fstat(held.descriptor, &status) != 0) {
            tell(describe(held.text) + ": looking at it: " + std::strerror(errno) +
                 "; it stays waiting");
            anyFailed_ = true;
            return false;
        }
        const auto size = static_cast<std::uint64_t>(status.st_size);
        // What the framing needs to know is read first, before anything is written.
        bool utf8 = true, nul = false;
        if (options_.json || options_.nul) {
            std::string pending;
            std::uint64_t seen = 0;
            const bool read = readHeld(held, size, [&](std::string_view piece) {
                seen += piece.size();
                if (options_.nul)
                    nul = nul || piece.find('\0') != std::string_view::npos;
                else if (utf8)
                    utf8 = reader::isUtf8(piece, &pending, seen == size);
            });
            if (!read)
                return false;
        }
        if (nul) {
            tell(describe(held.text) +
                 " holds a NUL byte, which -0 ends each text with, so it would split; it stays "
                 "waiting (--json carries any text)");
            anyFailed_ = true;
            return false;
        }
        if (options_.json)
            out_ << (jsonHead(held.text, size) +
                     (utf8 ? ",\"text\":\"" : ",\"text\":{\"base64\":\""));
        std::string escaped, pending;
        std::uint64_t written = 0;
        const bool read = readHeld(held, size, [&](std::string_view piece) {
            written += piece.size();
            if (!options_.json) {
                out_ << piece;
                return;
            }
            escaped.clear();
            if (utf8)
                reader::appendJsonEscaped(escaped, piece, &pending, written == size,
                                          jsonForTerminal);
            else
                escaped = frame::base64Of(piece);
            out_ << escaped;
        });
        if (!read) {
            out_.flush();
            return false;
        }
        if (options_.json)
            out_ << (utf8 ? "\"}\n" : "\"}}\n");
        else if (options_.nul)
            out_ << std::string_view("\0", 1);
        if (!out_.flush()) {
            tell(describe(held.text) + " could not be written to standard output (" +
                 out_.errorText() + "); it stays waiting");
            return false;
        }
        return true;
    }

    // --exec: CMD through sh -c, the text on its standard input and as $1.
    bool execute(const reader::HeldText& held) {
        const int input = held.openSeparately();
        if (input < 0) {
            tell(describe(held.text) + ": opening it for the command: " + std::strerror(errno) +
                 "; it stays waiting");
            return false;
        }
        // Everything the child needs is made before fork: after it only exec may follow.
        std::vector<std::string> environment;
        for (char** entry = environ; *entry; ++entry) {
            const std::string_view variable(*entry);
            if (!variable.starts_with("QUORVANE_TEXT_ID=") &&
                !variable.starts_with("QUORVANE_TEXT_TITLE="))
                environment.emplace_back(variable);
        }
        environment.push_back("QUORVANE_TEXT_ID=" + held.text.id);
        // The title as a command may show it: no control characters (escapes, line breaks). Its
        // direction marks stay, as written: the command decides how to show a right-to-left title.
        environment.push_back("QUORVANE_TEXT_TITLE=" +
                              reader::plainLine(held.text.title, /*keepDirectionControls=*/true));
        std::vector<char*> envp;
        for (auto& variable : environment)
            envp.push_back(variable.data());
        envp.push_back(nullptr);
        std::string shell = "/bin/sh", argv0 = "sh", dashC = "-c", command = options_.command,
                    zero = "sh", path = held.text.path;
        char* argv[] = {argv0.data(), dashC.data(), command.data(),
                        zero.data(),  path.data(),  nullptr};
        out_.flush();
        const pid_t child = ::fork();
        if (child == 0) {
            ::dup2(input, STDIN_FILENO);
            ::signal(SIGPIPE, SIG_DFL);
            ::signal(SIGXFSZ, SIG_DFL);
            ::signal(SIGINT, SIG_DFL);
            ::signal(SIGTERM, SIG_DFL);
            ::execve(shell.c_str(), argv, envp.data());
            _exit(127);
        }
        const int forkError = errno;
        ::close(input);
        if (child < 0) {
            tell(describe(held.text) + ": starting the command: " + std::strerror(forkError) +
                 "; it stays waiting");
            return false;
        }
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
            return true;
        if (WIFSIGNALED(status)) {
            const char* name = ::sigabbrev_np(WTERMSIG(status));
            tell(describe(held.text) + ": the command was killed by signal " +
                 (name ? std::string("SIG") + name : std::to_string(WTERMSIG(status))) +
                 "; the text stays waiting");
        } else {
            tell(describe(held.text) + ": the command exited with status " +
                 std::to_string(WEXITSTATUS(status)) + "; the text stays waiting");
        }
        return false;
    }

    const receive::ReceiveOptions& options_;
    reader::Inbox& inbox_;
    frame::Output& out_;
    Retries retries_;        // failed: offered again after a back-off
    Retries heldElsewhere_;  // held by another receiver: looked at again soon
    Retries folderRetry_;    // the import folder could not be listed: kFolderKey, when so
    static constexpr const char* kFolderKey = "";
    bool anyFailed_ = false;
    bool interrupted_ = false;
};

int run(int argc, char** argv, bool outputClosed) {
    const auto parsed =
        receive::parseReceiveOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (const auto* problem = std::get_if<receive::UsageError>(&parsed))
        return frame::usageError(kProgram, problem->message);
    const auto& options = std::get<receive::ReceiveOptions>(parsed);
    // --exec never writes to standard output (its commands get /dev/null there).
    frame::Output out(STDOUT_FILENO, outputClosed && options.mode != receive::Mode::exec);
    jsonForTerminal = ::isatty(STDOUT_FILENO) == 1;
    if (options.help || options.version)
        return frame::printHelpOrVersion(kProgram, out, options.help, receive::receiveUsageText(),
                                         QUORVANE_VERSION);
    std::string problem;
    const auto root = handover::containerRoot(&problem);
    if (!root) {
        tell(problem);
        return receive::kExitFailed;
    }
    if (outputClosed && options.mode == receive::Mode::print) {
        tell("standard output is closed; nothing was taken");
        return receive::kExitOutputFailed;
    }
    reader::Inbox inbox(*root);
    Receiver receiver(options, inbox, out);
    return receiver.run();
}

}  // namespace

int main(int argc, char** argv) {
    const frame::ClosedStreams closed = frame::guardStandardStreams();
    setUpSignals();
    try {
        return run(argc, argv, closed.output);
    } catch (const std::bad_alloc&) {
        tell("out of memory; what was not handed over stays waiting");
    } catch (const std::exception& error) {
        tell(std::string(error.what()) + "; what was not handed over stays waiting");
    }
    return receive::kExitFailed;
}
