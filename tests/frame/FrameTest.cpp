// The program frame: output that waits for a busy reader but never takes a failure for success,
// and a whole-file write that never follows, splits or leaves behind a file, whatever is planted
// at its path.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

#include "frame/Base64.h"
#include "frame/Output.h"
#include "frame/WholeFileWrite.h"
#include "support/TemporaryFolder.h"

namespace {

using testing_support::entriesOf;
using testing_support::readFile;
using testing_support::TemporaryFolder;
using testing_support::writeFile;

// A pipe left non-blocking by whoever shares it fills long before a slow reader drains it: the
// output waits for room, and every byte arrives in order. A full device is a failure that stays.
TEST(Output, WaitsOnANonBlockingReaderAndKeepsAFailure) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ASSERT_EQ(::fcntl(ends[1], F_SETFL, O_NONBLOCK), 0);
    std::string sent;
    for (int i = 0; sent.size() < (std::size_t(3) << 20); ++i)
        sent += std::to_string(i) + (i % 7 ? " " : "\n");
    std::string received;
    std::thread reader([&] {
        ::usleep(100 * 1000);  // the pipe is full by now
        char buffer[4096];
        for (ssize_t got; (got = ::read(ends[0], buffer, sizeof buffer)) > 0;)
            received.append(buffer, static_cast<std::size_t>(got));
    });
    {
        frame::Output out(ends[1]);
        for (std::size_t at = 0; at < sent.size(); at += 1000)
            out << std::string_view(sent).substr(at, 1000);
        EXPECT_TRUE(out.flush()) << out.errorText();
        ::close(ends[1]);
    }
    reader.join();
    ::close(ends[0]);
    EXPECT_EQ(received, sent);

    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    if (full < 0)
        GTEST_SKIP() << "no /dev/full";
    frame::Output out(full);
    out << std::string(100, 'x');
    EXPECT_FALSE(out.flush());
    EXPECT_EQ(out.errorText(), std::strerror(ENOSPC));
    out << "more";
    EXPECT_FALSE(out.flush());
    ::close(full);
}

// Whatever is at the path, the write puts the new bytes there whole, or fails and changes
// nothing: a link's target is never written, a folder stays a folder, no partial file stays.
TEST(WholeFileWrite, ReplacesOrRefusesWhateverIsPlantedAndLeavesNothingBehind) {
    TemporaryFolder folder;
    const auto elsewhere = folder.path() / "elsewhere";
    writeFile(elsewhere, "the person's file");
    struct Row {
        const char* name;
        std::function<void(const std::filesystem::path&)> plant;
        const char* problem;  // what pathProblem says
        bool written;
    };
    const Row rows[] = {
        {"nothing", [](const auto&) {}, "", true},
        {"a regular file", [](const auto& at) { writeFile(at, "old"); }, "", true},
        {"a link", [&](const auto& at) { std::filesystem::create_symlink(elsewhere, at); },
         "it is a symbolic link, which is never followed", true},
        {"a FIFO", [](const auto& at) { ::mkfifo(at.c_str(), 0600); }, "it is a FIFO", true},
        {"a folder", [](const auto& at) { std::filesystem::create_directory(at); },
         "it is a folder", false},
    };
    const std::string bytes(200000, 'p');
    for (const Row& row : rows) {
        const auto at = folder.path() / (std::string("target ") + row.name);
        row.plant(at);
        EXPECT_EQ(frame::pathProblem(at.string()), row.problem) << row.name;
        const std::string failure = frame::writeFileWhole(at.string(), bytes, 0600);
        EXPECT_EQ(failure.empty(), row.written) << row.name << ": " << failure;
        if (row.written) {
            EXPECT_FALSE(std::filesystem::is_symlink(at)) << row.name;
            EXPECT_EQ(readFile(at), bytes) << row.name;
            EXPECT_EQ(testing_support::modeOf(at) & 0077, 0u) << row.name;
        }
    }
    EXPECT_EQ(readFile(elsewhere), "the person's file");
    EXPECT_NE(frame::writeFileWhole((folder.path() / "no such folder" / "f").string(), "x"), "");
    EXPECT_EQ(frame::writeFileWhole(folder.str() + "/", "x"), "it names no file");
    for (const auto& name : entriesOf(folder.path()))
        EXPECT_EQ(name.find(".partial"), std::string::npos) << name;
}

TEST(Base64, PiecesOfThreeJoinIntoTheWhole) {
    EXPECT_EQ(frame::base64Of(""), "");
    EXPECT_EQ(frame::base64Of("f"), "Zg==");
    EXPECT_EQ(frame::base64Of("fo"), "Zm8=");
    EXPECT_EQ(frame::base64Of("foo"), "Zm9v");
    EXPECT_EQ(frame::base64Of(std::string_view("\xff\xfe\x00\x80", 4)), "//4AgA==");
    EXPECT_EQ(frame::base64Of("foob"), frame::base64Of("foo") + frame::base64Of("b"));
}

}  // namespace
