// quorvane-browser-host: the program Chromium and Firefox start for the "Send to Teleprompter"
// browser extension (native messaging). It reads one message, {"action": "share", "text": TEXT,
// "show": true|false}, hands the text to the same programs a person runs, and answers with the
// outcome: with "show" (the default) the share window (quorvane-share-desktop), where the person
// sees the text and sends or closes it; without, quorvane-share --send, which sends at once.
//
// A program of its own rather than a mode of the window: the browser owns its standard streams
// for the framing and starts it with arguments of its own (the extension's origin, or the
// manifest's path and the extension's id), which it ignores; and it needs no Qt. The programs
// it runs are found beside it (the build tree) or in the installed bin/ (it is installed in
// lib/quorvane/), never through PATH, so the browser's environment cannot put another program
// in their place.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/desktop/browser/NativeMessaging.h"

extern char** environ;

namespace {

using host::browser::failedReply;
using nlohmann::json;

constexpr std::size_t kMaxErrorBytes = 64 * 1024;
// How much of the share program's outcome is kept: far more than its start, which names the
// files saved and the error (a few paths and a message).
constexpr std::size_t kMaxOutcomeBytes = 1u << 20;

std::string programPath(const std::string& name) {
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return "";
    const auto folder = self.parent_path();
    for (const auto& candidate : {folder / name, folder / ".." / ".." / "bin" / name}) {
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate.lexically_normal().string();
    }
    return "";
}

struct Finished {
    int status = -1;  // exit status, or -signal
    std::string out;
    std::string err;
    std::string problem;   // the program could not be run
    bool outLost = false;  // memory ran out while its standard output was gathered
};

// Runs `argv` with `text` as its standard input (a memory file, so a text of any size goes in
// without a deadlock), gathering its standard output and (the start of) its standard error.
// The text is let go once the memory file holds it. Once the program runs, nothing here throws:
// its outcome is always waited for, since it may have saved the text.
Finished run(const std::vector<std::string>& argv, std::string text, std::size_t maxOut) {
    Finished finished;
    const int input = ::memfd_create("shared-text", MFD_CLOEXEC);
    if (input < 0) {
        finished.problem = std::string("cannot hold the text: ") + std::strerror(errno);
        return finished;
    }
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t written = ::write(input, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            finished.problem = std::string("cannot hold the text: ") + std::strerror(errno);
            ::close(input);
            return finished;
        }
        done += static_cast<std::size_t>(written);
    }
    text = std::string();
    ::lseek(input, 0, SEEK_SET);
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        finished.problem = std::string("cannot start the share: ") + std::strerror(errno);
        ::close(input);
        return finished;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    // The share programs see SIGPIPE as the default, whatever this program ignores.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGXFSZ);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    std::vector<char*> args;
    for (const auto& argument : argv)
        args.push_back(const_cast<char*>(argument.c_str()));
    args.push_back(nullptr);
    pid_t child = -1;
    const int spawned = ::posix_spawn(&child, args[0], &actions, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(input);
    ::close(out[1]);
    ::close(err[1]);
    if (spawned != 0) {
        finished.problem = "cannot start " + argv[0] + ": " + std::strerror(spawned);
        ::close(out[0]);
        ::close(err[0]);
        return finished;
    }
    pollfd streams[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* into[2] = {&finished.out, &finished.err};
    std::size_t caps[2] = {maxOut, kMaxErrorBytes};
    int open = 2;
    char buffer[65536];
    while (open > 0) {
        if (::poll(streams, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (streams[i].fd < 0 || streams[i].revents == 0)
                continue;
            const ssize_t got = ::read(streams[i].fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                ::close(streams[i].fd);
                streams[i].fd = -1;
                --open;
                continue;
            }
            // Beyond the cap the bytes are read and dropped, so the program never blocks; so are
            // they when memory runs out (the program's status still says whether it sent).
            const std::size_t room = caps[i] - std::min(caps[i], into[i]->size());
            try {
                into[i]->append(buffer, std::min(room, static_cast<std::size_t>(got)));
            } catch (const std::bad_alloc&) {
                std::string().swap(*into[i]);
                caps[i] = 0;
                if (i == 0)
                    finished.outLost = true;
            }
        }
    }
    for (auto& stream : streams)
        if (stream.fd >= 0)
            ::close(stream.fd);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    finished.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return finished;
}

// The program's last line on standard error, without its "program: " lead: what went wrong,
// in the words it told a person.
std::string lastMessage(const std::string& err, const std::string& program) {
    std::string line;
    std::size_t end = err.size();
    while (end > 0) {
        while (end > 0 && (err[end - 1] == '\n' || err[end - 1] == ' '))
            --end;
        const std::size_t start = err.rfind('\n', end == 0 ? 0 : end - 1);
        line = err.substr(start == std::string::npos ? 0 : start + 1,
                          end - (start == std::string::npos ? 0 : start + 1));
        // A pointer to --help is advice for a terminal, not a reason.
        if (line.find("--help") == std::string::npos)
            break;
        end = start == std::string::npos ? 0 : start;
        line.clear();
    }
    const std::string lead = program + ": ";
    if (line.rfind(lead, 0) == 0)
        line.erase(0, lead.size());
    return line;
}

// The outcome's fields the answer uses, read as the JSON streams by: the files saved and the
// error's message. Enough of the outcome is kept for them (they come first), not all of it: it
// repeats the text, escaped, up to three times (over 18 bytes for each control character), and
// a cut there must not lose the path of a text that was saved.
class OutcomeFields final : public json::json_sax_t {
  public:
    std::vector<json> files;
    bool filesEnded = false;  // the list of files was read to its end
    std::string message;

    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool string(string_t& value) override {
        if (at({"files", ""}))
            files.push_back(value);
        else if (at({"files", "", "base64"}))
            files.push_back({{"base64", value}});
        else if (at({"error", "message"}))
            message = value;
        return true;
    }
    bool start_object(std::size_t) override {
        levels_.push_back({true, ""});
        return true;
    }
    bool key(string_t& key) override {
        levels_.back().key = key;
        return true;
    }
    bool end_object() override {
        levels_.pop_back();
        return true;
    }
    bool start_array(std::size_t) override {
        levels_.push_back({false, ""});
        return true;
    }
    bool end_array() override {
        if (at({"files", ""}))
            filesEnded = true;
        levels_.pop_back();
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }

  private:
    struct Level {
        bool object;
        std::string key;  // the key being read, in an object
    };
    // Whether the value now read sits at `keys` below the outcome's object ("" for an array).
    [[nodiscard]] bool at(std::initializer_list<std::string_view> keys) const {
        if (levels_.size() != keys.size() || levels_.empty() || !levels_[0].object)
            return false;
        std::size_t i = 0;
        for (const auto key : keys) {
            if (levels_[i].object ? levels_[i].key != key : !key.empty())
                return false;
            ++i;
        }
        return true;
    }
    std::vector<Level> levels_;
};

// What the outcome holds of `fields`, from its start alone when it was cut; false when memory
// ran out reading it.
bool readOutcome(const std::string& out, OutcomeFields& fields) {
    try {
        json::sax_parse(out, &fields);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

json share(host::browser::ShareRequest request) {
    const std::string name = request.show ? "quorvane-share-desktop" : "quorvane-share";
    const std::string program = programPath(name);
    if (program.empty())
        return failedReply(name + " is not installed beside the browser's host");
    std::vector<std::string> argv{program, "--json"};
    if (!request.show)
        argv.push_back("--send");
    argv.push_back("-");
    // The outcome's start, where the files and the error come, is all that is needed of it.
    const Finished finished = run(argv, std::move(request.text), kMaxOutcomeBytes);
    if (!finished.problem.empty())
        return failedReply(finished.problem);
    if (finished.status < 0)
        return failedReply(name + " was ended by signal " + std::to_string(-finished.status) +
                           "; the text may not have been sent");
    OutcomeFields outcome;
    const bool read = !finished.outLost && readOutcome(finished.out, outcome);
    // 0: sent; 5: closed during the send, and saved all the same. Either way the text is in
    // the import folder, and saying "cancelled" (or "failed", which invites sending it again)
    // would hide a text that will be prompted. Where memory ran out before its path could be
    // read, it is sent all the same, with no path.
    if (finished.status == 0 || finished.status == 5) {
        if (!read)
            return host::browser::sentReply(nullptr);
        if (outcome.filesEnded && !outcome.files.empty())
            return host::browser::sentReply(outcome.files.back());
        return failedReply(name + " reported a send but named no file");
    }
    if (finished.status == 1)
        return host::browser::cancelledReply();
    if (!outcome.message.empty())
        return failedReply(outcome.message);
    std::string reason = lastMessage(finished.err, name);
    if (reason.empty())
        reason = name + " ended with status " + std::to_string(finished.status);
    return failedReply(reason);
}

}  // namespace

int main() {
    // A browser that went away makes the reply fail; that is reported, never a death halfway.
    ::signal(SIGPIPE, SIG_IGN);
    // A file-size limit below the text's size fails holding it (EFBIG), which is answered,
    // rather than ending this program before it answers.
    ::signal(SIGXFSZ, SIG_IGN);
    json reply;
    int status = 0;
    try {
        std::optional<host::browser::ShareRequest> request;
        {
            const auto read = host::browser::readMessage(STDIN_FILENO);
            if (const auto* problem = std::get_if<host::browser::FrameProblem>(&read)) {
                if (problem->ended)
                    return 0;
                reply = failedReply(problem->reason);
                status = 2;
            } else {
                auto parsed = host::browser::parseShareRequest(std::get<std::string>(read));
                if (const auto* refused = std::get_if<std::string>(&parsed)) {
                    reply = failedReply(*refused);
                    status = 2;
                } else {
                    request = std::move(std::get<host::browser::ShareRequest>(parsed));
                }
            }
        }  // the message's bytes are let go before the share
        if (request) {
            reply = share(std::move(*request));
            status = reply["outcome"] == "failed" ? 3 : 0;
        }
    } catch (const std::bad_alloc&) {
        // Before the share program runs (run() waits for it whatever happens): nothing was sent.
        reply = failedReply("the browser's host ran out of memory; the text was not sent");
        status = 2;
    }
    if (!host::browser::writeMessage(STDOUT_FILENO, reply))
        return 6;
    return status;
}
