// Exactly once under kills: receivers delivering into a folder are SIGKILLed at random moments,
// hundreds of times, while texts keep arriving; a last run then completes. Every text must be
// in the folder once, byte-exact, and none left waiting or recorded.
#include <signal.h>
#include <sys/wait.h>

#include <random>

#include "receive/ReceiveFixture.h"

namespace receive_test {
namespace {

struct Storm {
    int kills = 0;
    int finishedFirst = 0;  // runs that were done before their kill came
};

// Sends texts in rounds and kills receivers delivering into `out`, `kills` times. The moment
// of each kill is drawn from [0, window), and the window follows the runs' length, so kills
// land all through a run: listing, holding, recording, copying, linking, removing.
Storm killStorm(ReceiveTest& test, const std::string& root, const fs::path& out, int kills,
                std::size_t textBytes, std::map<std::string, int>* expected, std::mt19937& random) {
    Storm storm;
    double windowMs = 10;
    int sent = 0;
    testing_support::ProcessOptions options;
    options.environment["QUORVANE_CONTAINER_ROOT"] = root;
    const fs::path imported = handover::importFolderPath(root);
    while (storm.kills < kills) {
        if (countEntries(imported) < 60) {
            for (int i = 0; i < 60; ++i, ++sent) {
                // Few titles, so names collide and copies get numbers.
                const std::string text = "Take " + std::to_string(sent % 9) + "\n#" +
                                         std::to_string(sent) + " " +
                                         std::string(textBytes + sent % 97, 'k');
                send(root, text);
                ++(*expected)[text];
            }
        }
        const pid_t pid =
            testing_support::startProcess(QUORVANE_RECEIVE, {"--to", out.string()}, options);
        const auto delay = std::uniform_real_distribution<double>(0, windowMs)(random);
        std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long>(delay * 1000)));
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            ++storm.finishedFirst;
            windowMs = std::max(2.0, windowMs * 0.8);
            continue;
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        ++storm.kills;
        windowMs = std::min(250.0, windowMs * 1.03);
    }
    (void)test;
    return storm;
}

void expectExactlyOnce(const std::string& root, const fs::path& out,
                       const std::map<std::string, int>& expected) {
    const auto final = testing_support::runProcess(QUORVANE_RECEIVE, {"--to", out.string()}, [&] {
        testing_support::ProcessOptions options;
        options.environment["QUORVANE_CONTAINER_ROOT"] = root;
        return options;
    }());
    EXPECT_EQ(final.exitStatus, 0) << final.err;
    const auto delivered = contentsOf(out);
    EXPECT_EQ(delivered.size(), expected.size());
    for (const auto& [text, count] : delivered)
        EXPECT_EQ(count, 1) << "delivered " << count << " times: " << text.substr(0, 20);
    for (const auto& [text, count] : expected)
        EXPECT_TRUE(delivered.count(text)) << "lost: " << text.substr(0, 20);
    const fs::path imported = handover::importFolderPath(root);
    EXPECT_EQ(countEntries(imported), 0u);
    EXPECT_EQ(countEntries(imported.parent_path() / ".imported-claims"), 0u);
}

TEST_F(ReceiveTest, ExactlyOnceUnderKills) {
    if (!fs::is_directory("/dev/shm"))
        GTEST_SKIP() << "no /dev/shm for a second file system";
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const fs::path shm = fs::path("/dev/shm") / scratch().filename();
    struct Cleanup {
        fs::path path;
        ~Cleanup() { fs::remove_all(path); }
    } cleanup{shm};

    // Container and folder on one RAM disk: each text is linked, never copied, and syncs cost
    // nothing, so a run is short and the kills fall all through it.
    {
        std::map<std::string, int> expected;
        const std::string ramRoot = (shm / "root").string();
        const fs::path out = shm / "same";
        const Storm storm = killStorm(*this, ramRoot, out, 400, 200, &expected, random);
        std::printf("same file system: %d kills, %d runs done first, %zu texts\n", storm.kills,
                    storm.finishedFirst, expected.size());
        expectExactlyOnce(ramRoot, out, expected);
    }
    // The container on disk, the folder on the RAM disk: each text is copied, synced, linked.
    std::map<std::string, int> expected;
    const fs::path out = shm / "other";
    const Storm storm = killStorm(*this, root(), out, 150, 20000, &expected, random);
    std::printf("other file system: %d kills, %d runs done first, %zu texts\n", storm.kills,
                storm.finishedFirst, expected.size());
    expectExactlyOnce(root(), out, expected);
}

}  // namespace
}  // namespace receive_test
