// A writer killed at any moment leaves only complete files in the import folder: each entry
// is exactly one of the texts sent, never a prefix of one, and no temporary entry is visible.
// On both paths: unnamed files, and the staging folder (whose leftovers the next send sweeps).
#include <gtest/gtest.h>

#include <signal.h>
#include <time.h>

#include <chrono>
#include <random>
#include <thread>

#include "support/Subprocess.h"
#include "support/TemporaryFolder.h"

namespace {

using testing_support::ProcessOptions;
using testing_support::readFile;
using testing_support::TemporaryFolder;

constexpr int kKillsWanted = 100;
constexpr std::size_t kTextSize = 1 << 20;

std::string textNumber(int number) {
    std::string text = "text " + std::to_string(number) + "\n";
    std::mt19937 random(static_cast<unsigned>(number));
    while (text.size() < kTextSize)
        text.push_back(static_cast<char>('a' + random() % 26));
    return text;
}

void killWritersAtRandom(bool stagingPath) {
    TemporaryFolder root;
    TemporaryFolder inputs;
    ProcessOptions options;
    options.environment["QUORVANE_CONTAINER_ROOT"] = root.str();
    if (stagingPath)
        options = testing_support::preloading(options, QUORVANE_REFUSE_UNNAMED_FILES);

    // How long one whole send takes here, so kills land all over it.
    testing_support::writeFile(inputs.path() / "probe", textNumber(-1));
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(testing_support::runProcess(QUORVANE_HOST,
                                          {"--send", (inputs.path() / "probe").string()}, options)
                  .exitStatus,
              0);
    const auto oneSend = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - started);

    std::mt19937 random(12345);
    std::uniform_int_distribution<long long> delay(0, oneSend.count() * 12 / 10);
    int kills = 0, completed = 0, attempts = 0;
    while (kills < kKillsWanted && attempts < 6 * kKillsWanted) {
        const int number = attempts++;
        const auto input = inputs.path() / ("text-" + std::to_string(number));
        testing_support::writeFile(input, textNumber(number));
        const pid_t pid =
            testing_support::startProcess(QUORVANE_HOST, {"--send", input.string()}, options);
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        ::kill(pid, SIGKILL);
        const auto result = testing_support::waitProcess(pid);
        if (result.signal == SIGKILL)
            ++kills;
        if (result.exitStatus == 0)
            ++completed;
    }
    EXPECT_GE(kills, kKillsWanted);

    const auto regular = root.path() / "group.app.quorvane.teleprompter" / "regular";
    const auto folder = regular / "imported";
    if (stagingPath) {
        // One more send sweeps what the killed writers staged; only empty claims of writers
        // killed in the instant between making and locking their file may stay (for a while).
        ASSERT_EQ(testing_support::runProcess(
                      QUORVANE_HOST, {"--send", (inputs.path() / "probe").string()}, options)
                      .exitStatus,
                  0);
        ++completed;
        for (const std::string& name : testing_support::entriesOf(regular / ".imported-staging")) {
            EXPECT_TRUE(name.size() > 6 && name.substr(name.size() - 6) == ".claim" &&
                        std::filesystem::file_size(regular / ".imported-staging" / name) == 0)
                << "left in the staging folder: " << name;
        }
    }
    int files = 0;
    for (const std::string& name : testing_support::entriesOf(folder)) {
        ASSERT_EQ(name.size(), 36u) << "only UUID-named entries: " << name;
        const std::string contents = readFile(folder / name);
        ASSERT_EQ(contents.size(), kTextSize) << name << " is not complete";
        const int number = std::stoi(contents.substr(5, contents.find('\n') - 5));
        ASSERT_EQ(contents, textNumber(number)) << name;
        ++files;
    }
    EXPECT_GE(files, completed + 1) << "every send that finished left its file";
    ::testing::Test::RecordProperty("kills", kills);
    ::testing::Test::RecordProperty("completed", completed);
    ::testing::Test::RecordProperty("files", files);
    std::printf(
        "%s: kills survived: %d, sends completed: %d, files (all complete): %d, one send: %lld "
        "us\n",
        stagingPath ? "staging path" : "unnamed files", kills, completed, files,
        static_cast<long long>(oneSend.count()));
}

TEST(Reliability, AWriterKilledAtRandomLeavesOnlyCompleteFiles) {
    killWritersAtRandom(false);
}

TEST(Reliability, AWriterKilledAtRandomOnTheStagingPathLeavesOnlyCompleteFiles) {
    killWritersAtRandom(true);
}

}  // namespace
