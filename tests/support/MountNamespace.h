// MountNamespace: runs part of a test in a child process with a private mount namespace, so the
// file systems it mounts (a small RAM disk, a read-only view, a loop-mounted image) are seen by
// that child and the programs it starts, and vanish with it, whatever happens to the test.
//
// The body runs in the child and reports in words, since assertions made there would be lost:
// it returns an Outcome that passed, failed with what went wrong, or was skipped with the
// reason the machine does not allow it.
#pragma once

#include <functional>
#include <string>

namespace testing_support {

struct Outcome {
    enum class Status { passed, failed, skipped };
    Status status = Status::passed;
    std::string message;

    static Outcome passed(std::string summary = {}) { return {Status::passed, std::move(summary)}; }
    static Outcome failed(std::string what) { return {Status::failed, std::move(what)}; }
    static Outcome skipped(std::string why) { return {Status::skipped, std::move(why)}; }
};

// Forks; the child leaves the test's mount namespace, makes every mount in it private (nothing
// it mounts propagates back) and runs `body`. Skipped when the machine refuses either step (no
// privilege for namespaces). A body that throws or dies fails.
Outcome runInPrivateMountNamespace(const std::function<Outcome()>& body);

// mount(2) of a file system by type; the errno text on failure, empty on success.
std::string mountFileSystem(const std::string& type, const std::string& target,
                            const std::string& options);
// A read-only view of `folder` over itself; the errno text on failure, empty on success.
std::string bindReadOnly(const std::string& folder);
std::string unmount(const std::string& target);

// The path of a program in the usual system folders, or empty when none is installed.
std::string findProgram(const std::string& name);

}  // namespace testing_support
