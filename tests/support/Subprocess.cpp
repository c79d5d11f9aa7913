#include "support/Subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace testing_support {
namespace {

std::vector<std::string> environmentFor(const ProcessOptions& options) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('='));
        if (options.environment.count(name) ||
            std::find(options.unset.begin(), options.unset.end(), name) != options.unset.end()) {
            continue;
        }
        result.push_back(text);
    }
    for (const auto& [name, value] : options.environment)
        result.push_back(name + "=" + value);
    return result;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (auto& text : strings)
        result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

ProcessResult resultOf(int status) {
    ProcessResult result;
    if (WIFEXITED(status))
        result.exitStatus = WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
    return result;
}

// Forks and execs; the child's standard streams are the given descriptors.
pid_t spawn(const std::string& program, const std::vector<std::string>& arguments,
            const ProcessOptions& options, int in, int out, int err) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<std::string> env = environmentFor(options);
    auto argvPointers = pointers(argv);
    auto envPointers = pointers(env);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in, STDIN_FILENO);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        ::execve(program.c_str(), argvPointers.data(), envPointers.data());
        ::_exit(127);
    }
    return pid;
}

}  // namespace

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const ProcessOptions& options) {
    int inPipe[2], outPipe[2], errPipe[2];
    if (::pipe2(inPipe, O_CLOEXEC) != 0 || ::pipe2(outPipe, O_CLOEXEC) != 0 ||
        ::pipe2(errPipe, O_CLOEXEC) != 0)
        return {};
    const pid_t pid = spawn(program, arguments, options, inPipe[0], outPipe[1], errPipe[1]);
    ::close(inPipe[0]);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    // Feed the input and drain both outputs together, so no pipe fills up and stalls the child.
    const std::string input = options.input.value_or("");
    std::size_t fed = 0;
    int inFd = inPipe[1];
    if (input.empty()) {
        ::close(inFd);
        inFd = -1;
    } else {
        ::fcntl(inFd, F_SETFL, O_NONBLOCK);
    }
    ProcessResult collected;
    int outFd = outPipe[0], errFd = errPipe[0];
    ::signal(SIGPIPE, SIG_IGN);
    while (outFd >= 0 || errFd >= 0 || inFd >= 0) {
        pollfd fds[3] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}, {inFd, POLLOUT, 0}};
        if (::poll(fds, 3, -1) < 0 && errno != EINTR)
            break;
        char buffer[65536];
        for (int i = 0; i < 2; ++i) {
            int& fd = i == 0 ? outFd : errFd;
            if (fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got > 0) {
                (i == 0 ? collected.out : collected.err)
                    .append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                ::close(fd);
                fd = -1;
            }
        }
        if (inFd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            const ssize_t wrote = ::write(inFd, input.data() + fed, input.size() - fed);
            if (wrote > 0)
                fed += static_cast<std::size_t>(wrote);
            if (fed == input.size() || (wrote < 0 && errno != EAGAIN && errno != EINTR)) {
                ::close(inFd);
                inFd = -1;
            }
        }
    }
    ProcessResult result = waitProcess(pid);
    result.out = std::move(collected.out);
    result.err = std::move(collected.err);
    return result;
}

pid_t startProcess(const std::string& program, const std::vector<std::string>& arguments,
                   const ProcessOptions& options) {
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    const pid_t pid = spawn(program, arguments, options, null, null, null);
    ::close(null);
    return pid;
}

ProcessResult waitProcess(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return resultOf(status);
}

}  // namespace testing_support
