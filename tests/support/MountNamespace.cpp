#include "support/MountNamespace.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>

namespace testing_support {
namespace {

void writeAll(int fd, const std::string& text) {
    std::string_view rest = text;
    while (!rest.empty()) {
        const ssize_t written = ::write(fd, rest.data(), rest.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        rest.remove_prefix(static_cast<std::size_t>(written));
    }
}

std::string errorText(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

Outcome runInPrivateMountNamespace(const std::function<Outcome()>& body) {
    // Not inherited by the programs the body starts: a daemon among them (a FUSE file system)
    // would otherwise keep the report open after the child is gone.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return Outcome::failed(errorText("pipe"));
    const pid_t pid = ::fork();
    if (pid < 0)
        return Outcome::failed(errorText("fork"));
    if (pid == 0) {
        ::close(report[0]);
        Outcome outcome;
        if (::unshare(CLONE_NEWNS) != 0) {
            outcome = Outcome::skipped(errorText("no private mount namespace (unshare)"));
        } else if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            outcome = Outcome::skipped(errorText("mounts refused (making / private)"));
        } else {
            try {
                outcome = body();
            } catch (const std::exception& error) {
                outcome = Outcome::failed(std::string("threw: ") + error.what());
            }
        }
        const char status = outcome.status == Outcome::Status::passed    ? 'P'
                            : outcome.status == Outcome::Status::skipped ? 'S'
                                                                         : 'F';
        writeAll(report[1], std::string(1, status) + outcome.message);
        ::close(report[1]);
        ::_exit(0);
    }
    ::close(report[1]);
    std::string received;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(report[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        received.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(report[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (received.empty()) {
        return Outcome::failed("the child ended without a report (status " +
                               std::to_string(status) + ")");
    }
    const std::string message = received.substr(1);
    switch (received[0]) {
        case 'P':
            return Outcome::passed(message);
        case 'S':
            return Outcome::skipped(message);
        default:
            return Outcome::failed(message);
    }
}

std::string mountFileSystem(const std::string& type, const std::string& target,
                            const std::string& options) {
    if (::mount(type.c_str(), target.c_str(), type.c_str(), 0, options.c_str()) != 0)
        return errorText(("mounting " + type + " on " + target).c_str());
    return {};
}

std::string bindReadOnly(const std::string& folder) {
    if (::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0)
        return errorText(("binding " + folder).c_str());
    if (::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
        return errorText(("making " + folder + " read-only").c_str());
    return {};
}

std::string unmount(const std::string& target) {
    if (::umount2(target.c_str(), 0) != 0)
        return errorText(("unmounting " + target).c_str());
    return {};
}

std::string findProgram(const std::string& name) {
    for (const char* folder : {"/usr/sbin", "/sbin", "/usr/bin", "/bin"}) {
        const std::filesystem::path candidate = std::filesystem::path(folder) / name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate.string();
    }
    return {};
}

}  // namespace testing_support
