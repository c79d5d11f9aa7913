// The write that loses nothing: success, every step failing, interruptions, name collisions
// and the staging path, all through the system-call seam.
#include "storage/DurableFolderWrite.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>

#include "platform/foundation/UUID.h"
#include "support/FaultySystemCalls.h"
#include "support/TemporaryFolder.h"

namespace {

using quorvane::DurableWriteResult;
using quorvane::StagingMode;
using quorvane::writeNewFileDurably;
using testing_support::Call;
using testing_support::entriesOf;
using testing_support::FaultySystemCalls;
using testing_support::readFile;
using testing_support::TemporaryFolder;

const std::regex kUuidName("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$");

std::string someText() {
    return "Title line\r\ncaf\xc3\xa9 \xf0\x9f\x8e\xac and more\n";
}

unsigned modeOf(const std::filesystem::path& path) {
    struct stat status {};
    ::stat(path.c_str(), &status);
    return status.st_mode & 07777;
}

DurableWriteResult writeWith(FaultySystemCalls& calls, const TemporaryFolder& container,
                             const std::string& text, StagingMode mode = StagingMode::automatic) {
    platform::ScopedSystemCalls scoped(calls);
    return writeNewFileDurably(container.str(), "regular/imported", text, mode);
}

TEST(DurableWrite, WritesExactBytesUnderAFreshNameWithOwnerOnlyPermissions) {
    for (const StagingMode mode : {StagingMode::automatic, StagingMode::stagingFolderOnly}) {
        TemporaryFolder container;
        FaultySystemCalls calls;
        const DurableWriteResult result = writeWith(calls, container, someText(), mode);
        ASSERT_TRUE(result.name) << result.error->localizedDescription();
        EXPECT_TRUE(std::regex_match(*result.name, kUuidName)) << *result.name;
        const auto folder = container.path() / "regular" / "imported";
        EXPECT_EQ(entriesOf(folder), std::vector<std::string>{*result.name});
        EXPECT_EQ(readFile(folder / *result.name), someText());
        EXPECT_EQ(modeOf(folder / *result.name), 0600u);
        EXPECT_EQ(modeOf(folder), 0700u);
        EXPECT_EQ(modeOf(container.path() / "regular"), 0700u);
        // Nothing temporary is left anywhere.
        const auto staging = container.path() / "regular" / ".imported-staging";
        EXPECT_TRUE(entriesOf(staging).empty());
        // The file and the folder were synced after the last write, before success.
        const auto log = calls.calls();
        const auto lastWrite = std::find(log.rbegin(), log.rend(), Call::write);
        ASSERT_NE(lastWrite, log.rend());
        EXPECT_GE(std::count(log.rbegin(), lastWrite, Call::fsync), 2);
    }
}

TEST(DurableWrite, EmptyAndLargeTextsKeepTheirExactSize) {
    TemporaryFolder container;
    FaultySystemCalls calls;
    const auto empty = writeWith(calls, container, "");
    std::string large(3 << 20, 'a');
    for (std::size_t i = 0; i < large.size(); i += 4099)
        large[i] = static_cast<char>('0' + i % 10);
    const auto big = writeWith(calls, container, large);
    const auto folder = container.path() / "regular" / "imported";
    ASSERT_TRUE(empty.name && big.name);
    EXPECT_EQ(std::filesystem::file_size(folder / *empty.name), 0u);
    EXPECT_EQ(readFile(folder / *big.name), large);
}

// Each step of the write failing leaves no entry and reports the system's reason.
TEST(DurableWrite, EveryFailingStepLeavesNothingAndSaysWhy) {
    struct Row {
        const char* name;
        Call call;
        std::size_t nth;
        int error;
        bool foldersExist;
        StagingMode mode;
    };
    const Row rows[] = {
        {"making the outer folder", Call::mkdirat, 1, EACCES, false, StagingMode::automatic},
        {"making the import folder", Call::mkdirat, 2, ENOSPC, false, StagingMode::automatic},
        {"syncing the parent of a new folder", Call::fsync, 1, EIO, false, StagingMode::automatic},
        {"opening the unnamed file", Call::openat, 4, EIO, true, StagingMode::automatic},
        {"writing", Call::write, 1, ENOSPC, true, StagingMode::automatic},
        {"syncing the file", Call::fsync, 1, EIO, true, StagingMode::automatic},
        {"naming the file", Call::linkat, 1, EIO, true, StagingMode::automatic},
        {"reading the random source", Call::getrandom, 1, EIO, true, StagingMode::automatic},
        {"syncing the folder", Call::fsync, 2, EIO, true, StagingMode::automatic},
        {"staging: writing", Call::write, 1, EIO, true, StagingMode::stagingFolderOnly},
        {"staging: syncing the file", Call::fsync, 1, EIO, true, StagingMode::stagingFolderOnly},
        {"staging: moving in", Call::renameat2, 1, EIO, true, StagingMode::stagingFolderOnly},
        {"staging: syncing the folder", Call::fsync, 2, EIO, true, StagingMode::stagingFolderOnly},
        {"staging: locking", Call::flock, 1, ENOLCK, true, StagingMode::stagingFolderOnly},
    };
    for (const Row& row : rows) {
        TemporaryFolder container;
        if (row.foldersExist) {
            std::filesystem::create_directories(container.path() / "regular" / "imported");
            std::filesystem::create_directories(container.path() / "regular" / ".imported-staging");
        }
        FaultySystemCalls calls;
        calls.failKind(row.call, row.nth, row.error);
        const DurableWriteResult result = writeWith(calls, container, someText(), row.mode);
        EXPECT_FALSE(result.name) << row.name;
        ASSERT_TRUE(result.error) << row.name;
        EXPECT_EQ(result.error->code, row.error)
            << row.name << ": " << result.error->localizedDescription();
        EXPECT_TRUE(entriesOf(container.path() / "regular" / "imported").empty()) << row.name;
        EXPECT_TRUE(entriesOf(container.path() / "regular" / ".imported-staging").empty())
            << row.name;
    }
}

TEST(DurableWrite, ShortWritesAndInterruptionsStillWriteEveryByte) {
    TemporaryFolder container;
    FaultySystemCalls calls;
    calls.setShortWrites(true);
    calls.setInterruptEveryWrite(3);
    const std::string text(100000, 'q');
    const auto result = writeWith(calls, container, text);
    ASSERT_TRUE(result.name);
    EXPECT_EQ(readFile(container.path() / "regular" / "imported" / *result.name), text);
}

TEST(DurableWrite, ATakenNameIsNeverReplaced) {
    for (const StagingMode mode : {StagingMode::automatic, StagingMode::stagingFolderOnly}) {
        TemporaryFolder container;
        const auto folder = container.path() / "regular" / "imported";
        std::filesystem::create_directories(folder);
        const std::array<std::uint8_t, 16> taken{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x47, 0x77,
                                                 0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
        const std::string takenName = platform::UUID::fromBytes(taken).uuidString();
        testing_support::writeFile(folder / takenName, "the earlier text");
        FaultySystemCalls calls;
        // Staged names use random bytes too: give the same bytes to every draw until the move.
        calls.scriptRandomBytes(mode == StagingMode::automatic ? std::vector{taken}
                                                               : std::vector{taken, taken});
        const auto result = writeWith(calls, container, someText(), mode);
        ASSERT_TRUE(result.name);
        EXPECT_NE(*result.name, takenName);
        EXPECT_EQ(readFile(folder / takenName), "the earlier text");
        EXPECT_EQ(readFile(folder / *result.name), someText());
        EXPECT_EQ(entriesOf(folder).size(), 2u);
    }
}

TEST(DurableWrite, FileSystemsWithoutUnnamedFilesOrRenameFlagsUseTheStagingFolder) {
    TemporaryFolder container;
    FaultySystemCalls calls;
    calls.refuseUnnamedFiles(true);
    calls.failKind(Call::renameat2, 1, EINVAL);  // no RENAME_NOREPLACE: link and unlink instead
    const auto result = writeWith(calls, container, someText());
    ASSERT_TRUE(result.name);
    EXPECT_EQ(readFile(container.path() / "regular" / "imported" / *result.name), someText());
    EXPECT_TRUE(entriesOf(container.path() / "regular" / ".imported-staging").empty());
}

TEST(DurableWrite, StagedFilesOfDeadWritersAreSweptAndLiveOnesKept) {
    TemporaryFolder container;
    const auto staging = container.path() / "regular" / ".imported-staging";
    std::filesystem::create_directories(staging);
    testing_support::writeFile(staging / "dead.partial", "left by a writer that was killed");
    testing_support::writeFile(staging / "live.partial", "being written right now");
    const int live = ::open((staging / "live.partial").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(live, LOCK_EX), 0);
    FaultySystemCalls calls;
    const auto result = writeWith(calls, container, someText(), StagingMode::stagingFolderOnly);
    ASSERT_TRUE(result.name);
    EXPECT_EQ(entriesOf(staging), std::vector<std::string>{"live.partial"});
    ::close(live);
}

TEST(DurableWrite, AContainerThatIsNotAFolderFails) {
    TemporaryFolder parent;
    testing_support::writeFile(parent.path() / "file", "x");
    const auto result =
        writeNewFileDurably((parent.path() / "file").string(), "regular/imported", "text");
    EXPECT_FALSE(result.name);
    ASSERT_TRUE(result.error);
    EXPECT_EQ(result.error->code, ENOTDIR);
}

}  // namespace
