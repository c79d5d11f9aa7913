// What the receiver's tests share: a container of their own, texts sent into it as the share
// sheet sends them, the receiver run with that container, and what a folder ended up holding.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "handover/ContainerLocation.h"
#include "support/Subprocess.h"
#include "support/TemporaryFolder.h"

namespace receive_test {

namespace fs = std::filesystem;

inline std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A fresh upper-case UUID name, as the share sheet gives one.
inline std::string freshId() {
    static std::atomic<unsigned> counter{0};
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%08X-%04X-4%03X-8%03X-%012llX",
                  static_cast<unsigned>(::getpid()), counter.fetch_add(1) & 0xFFFF,
                  static_cast<unsigned>(std::rand() & 0xFFF),
                  static_cast<unsigned>(std::rand() & 0xFFF),
                  static_cast<unsigned long long>(
                      std::chrono::steady_clock::now().time_since_epoch().count()) &
                      0xFFFFFFFFFFFFull);
    return buffer;
}

// Sends `bytes` into the import folder under `root` as the share sheet does: written and synced
// while unnamed, then linked under a new UUID name. Returns the name.
inline std::string send(const std::string& root, const std::string& bytes) {
    const fs::path folder = handover::importFolderPath(root);
    fs::create_directories(folder);
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    const std::string id = freshId();
    const std::string procPath = "/proc/self/fd/" + std::to_string(fd);
    EXPECT_EQ(
        ::linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, (folder / id).c_str(), AT_SYMLINK_FOLLOW),
        0);
    ::close(fd);
    return id;
}

// How many files of a folder hold each content.
inline std::map<std::string, int> contentsOf(const fs::path& folder) {
    std::map<std::string, int> contents;
    if (!fs::exists(folder))
        return contents;
    for (const auto& entry : fs::directory_iterator(folder))
        ++contents[readFile(entry.path())];
    return contents;
}

inline std::size_t countEntries(const fs::path& folder) {
    if (!fs::exists(folder))
        return 0;
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

// Waits until `done` holds, for at most a generous minute (a busy machine's syncs are slow).
inline bool eventually(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class ReceiveTest : public ::testing::Test {
  protected:
    [[nodiscard]] std::string root() const { return root_.str(); }
    [[nodiscard]] fs::path imported() const { return handover::importFolderPath(root()); }
    [[nodiscard]] fs::path scratch() const { return scratch_.path(); }

    testing_support::ProcessOptions options(std::optional<std::string> input = {}) const {
        testing_support::ProcessOptions options;
        options.environment["QUORVANE_CONTAINER_ROOT"] = root();
        options.input = std::move(input);
        return options;
    }
    testing_support::ProcessResult receive(const std::vector<std::string>& arguments) const {
        return testing_support::runProcess(QUORVANE_RECEIVE, arguments, options());
    }
    pid_t start(const std::vector<std::string>& arguments) const {
        return testing_support::startProcess(QUORVANE_RECEIVE, arguments, options());
    }

  private:
    testing_support::TemporaryFolder root_;
    testing_support::TemporaryFolder scratch_;
};

}  // namespace receive_test
