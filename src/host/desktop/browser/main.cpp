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
#include <string>
#include <vector>

#include "host/desktop/browser/NativeMessaging.h"

extern char** environ;

namespace {

using host::browser::failedReply;
using nlohmann::json;

constexpr std::size_t kMaxErrorBytes = 64 * 1024;

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
    std::string problem;  // the program could not be run
};

// Runs `argv` with `text` as its standard input (a memory file, so a text of any size goes in
// without a deadlock), gathering its standard output and (the start of) its standard error.
Finished run(const std::vector<std::string>& argv, const std::string& text, std::size_t maxOut) {
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
    const std::size_t caps[2] = {maxOut, kMaxErrorBytes};
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
            // Beyond the cap the bytes are read and dropped, so the program never blocks.
            const std::size_t room = caps[i] - std::min(caps[i], into[i]->size());
            into[i]->append(buffer, std::min(room, static_cast<std::size_t>(got)));
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

json share(const host::browser::ShareRequest& request) {
    const std::string name = request.show ? "quorvane-share-desktop" : "quorvane-share";
    const std::string program = programPath(name);
    if (program.empty())
        return failedReply(name + " is not installed beside the browser's host");
    std::vector<std::string> argv{program, "--json"};
    if (!request.show)
        argv.push_back("--send");
    argv.push_back("-");
    // The outcome's JSON repeats the text (escaped, at most six bytes for one) once.
    const Finished finished = run(argv, request.text, request.text.size() * 6 + (1u << 20));
    if (!finished.problem.empty())
        return failedReply(finished.problem);
    if (finished.status < 0)
        return failedReply(name + " was ended by signal " + std::to_string(-finished.status) +
                           "; the text may not have been sent");
    json outcome = json::parse(finished.out, nullptr, false);
    // 0: sent; 5: closed during the send, and saved all the same. Either way the text is in
    // the import folder, and saying "cancelled" would hide a text that will be prompted.
    if (finished.status == 0 || finished.status == 5) {
        if (outcome.is_object() && outcome.contains("files") && outcome["files"].is_array() &&
            !outcome["files"].empty())
            return host::browser::sentReply(outcome["files"].back());
        return failedReply(name + " reported a send but named no file");
    }
    if (finished.status == 1)
        return host::browser::cancelledReply();
    if (outcome.is_object() && outcome.contains("error") && outcome["error"].is_object() &&
        outcome["error"].contains("message") && outcome["error"]["message"].is_string())
        return failedReply(outcome["error"]["message"].get<std::string>());
    std::string reason = lastMessage(finished.err, name);
    if (reason.empty())
        reason = name + " ended with status " + std::to_string(finished.status);
    return failedReply(reason);
}

}  // namespace

int main() {
    // A browser that went away makes the reply fail; that is reported, never a death halfway.
    ::signal(SIGPIPE, SIG_IGN);
    const auto read = host::browser::readMessage(STDIN_FILENO);
    json reply;
    int status = 0;
    if (const auto* problem = std::get_if<host::browser::FrameProblem>(&read)) {
        if (problem->ended)
            return 0;
        reply = failedReply(problem->reason);
        status = 2;
    } else {
        const auto request = host::browser::parseShareRequest(std::get<std::string>(read));
        if (const auto* refused = std::get_if<std::string>(&request)) {
            reply = failedReply(*refused);
            status = 2;
        } else {
            reply = share(std::get<host::browser::ShareRequest>(request));
            status = reply["outcome"] == "failed" ? 3 : 0;
        }
    }
    if (!host::browser::writeMessage(STDOUT_FILENO, reply))
        return 6;
    return status;
}
