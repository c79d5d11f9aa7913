// Many writers at once, and a reader: 8 share hosts each send 125 texts (200 on the staging
// path, where the writers also share the staging folder and sweep it) while a reader lists
// the import folder and reads every new entry in a loop, as the main application would. Every
// send completes; in the end each file is exactly one of the texts and each text is there
// exactly once; and the reader never saw an entry shorter than the text it holds.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "support/Subprocess.h"
#include "support/TemporaryFolder.h"

namespace {

namespace fs = std::filesystem;
using testing_support::TemporaryFolder;

constexpr int kWriters = 8;

// Text `number`: a header naming it and its full length, then letters; 100 bytes to 64 KB.
std::string concurrencyText(int number) {
    std::mt19937 random(static_cast<unsigned>(number) + 17u);
    const std::size_t size = 100 + random() % (64 * 1024);
    std::string text = "text " + std::to_string(number) + " " + std::to_string(size) + "\n";
    while (text.size() < size)
        text.push_back(static_cast<char>('a' + random() % 26));
    return text;
}

// The length the header announces, or none when the header itself is cut.
std::optional<std::size_t> announcedSize(const std::string& contents) {
    const std::size_t lineEnd = contents.find('\n');
    if (contents.rfind("text ", 0) != 0 || lineEnd == std::string::npos)
        return std::nullopt;
    std::istringstream header(contents.substr(5, lineEnd - 5));
    int number = -1;
    std::size_t size = 0;
    if (!(header >> number >> size))
        return std::nullopt;
    return size;
}

void sendConcurrentlyWhileReading(int textsPerWriter, bool stagingPath) {
    TemporaryFolder root;
    TemporaryFolder inputs;
    for (int number = 0; number < kWriters * textsPerWriter; ++number)
        testing_support::writeFile(inputs.path() / std::to_string(number), concurrencyText(number));
    const fs::path regular = root.path() / "group.app.quorvane.teleprompter" / "regular";
    const fs::path folder = regular / "imported";
    testing_support::ProcessOptions options;
    options.environment["QUORVANE_CONTAINER_ROOT"] = root.str();
    if (stagingPath)
        options = testing_support::preloading(options, QUORVANE_REFUSE_UNNAMED_FILES);

    std::atomic<int> writersLeft{kWriters};
    std::mutex failuresMutex;
    std::vector<std::string> failures;
    std::vector<std::thread> writers;
    for (int writer = 0; writer < kWriters; ++writer) {
        writers.emplace_back([&, writer] {
            for (int i = 0; i < textsPerWriter; ++i) {
                const int number = writer * textsPerWriter + i;
                const auto result = testing_support::runProcess(
                    QUORVANE_HOST, {"--send", (inputs.path() / std::to_string(number)).string()},
                    options);
                if (result.exitStatus != 0) {
                    std::lock_guard lock(failuresMutex);
                    failures.push_back("text " + std::to_string(number) + ": exit " +
                                       std::to_string(result.exitStatus) + " " + result.err);
                }
            }
            --writersLeft;
        });
    }

    // The reader: every entry is read whole the first time it is listed; later listings check
    // that no entry changes its size.
    std::map<std::string, std::size_t> seen;
    std::vector<std::string> shortReads;
    int listings = 0;
    for (bool last = false; !last;) {
        last = writersLeft.load() == 0;
        ++listings;
        for (const std::string& name : testing_support::entriesOf(folder)) {
            const auto known = seen.find(name);
            if (known != seen.end()) {
                std::error_code error;
                if (fs::file_size(folder / name, error) != known->second)
                    shortReads.push_back(name + " changed size after it appeared");
                continue;
            }
            const std::string contents = testing_support::readFile(folder / name);
            const auto size = announcedSize(contents);
            if (!size || contents.size() != *size) {
                shortReads.push_back(name + " read as " + std::to_string(contents.size()) +
                                     " bytes");
            }
            seen[name] = contents.size();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (std::thread& writer : writers)
        writer.join();

    EXPECT_TRUE(failures.empty()) << failures.size() << " sends failed, first: " << failures[0];
    EXPECT_TRUE(shortReads.empty())
        << shortReads.size() << " entries seen incomplete, first: " << shortReads[0];
    std::multiset<int> texts;
    for (const std::string& name : testing_support::entriesOf(folder)) {
        const std::string contents = testing_support::readFile(folder / name);
        const int number = std::stoi(contents.substr(5, contents.find(' ', 5) - 5));
        ASSERT_EQ(contents, concurrencyText(number)) << name;
        texts.insert(number);
    }
    EXPECT_EQ(texts.size(), static_cast<std::size_t>(kWriters * textsPerWriter));
    EXPECT_EQ(std::set<int>(texts.begin(), texts.end()).size(), texts.size())
        << "every text exactly once";
    EXPECT_EQ(fs::exists(regular / ".imported-staging"), stagingPath);
    if (stagingPath) {
        EXPECT_TRUE(testing_support::entriesOf(regular / ".imported-staging").empty());
    }
    std::printf(
        "concurrency%s: %d hosts, %zu files, all exact and distinct; reader: %d listings, "
        "%zu entries read whole on first sight\n",
        stagingPath ? " (staging path)" : "", kWriters, texts.size(), listings, seen.size());
}

TEST(Concurrency, EightHostsSendingAThousandTextsWhileAReaderReadsLeaveEachTextOnceAndWhole) {
    sendConcurrentlyWhileReading(125, false);
}

TEST(Concurrency, OnTheStagingPathEveryOneOfSixteenHundredSendsCompletesOnceAndWhole) {
    sendConcurrentlyWhileReading(200, true);
}

}  // namespace
