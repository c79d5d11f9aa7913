// The write that loses nothing: success, every step failing, interruptions, name collisions,
// the staging path and entries planted in the container, all through the system-call seam.
#include "storage/DurableFolderWrite.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/sysmacros.h>

#include <map>
#include <regex>
#include <thread>

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
using testing_support::modeOf;
using testing_support::readFile;
using testing_support::TemporaryFolder;
namespace fs = std::filesystem;

const std::regex kUuidName("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$");

std::string someText() {
    return "Title line\r\ncaf\xc3\xa9 \xf0\x9f\x8e\xac and more\n";
}

DurableWriteResult writeWith(FaultySystemCalls& calls, const TemporaryFolder& container,
                             const std::string& text, StagingMode mode = StagingMode::automatic) {
    platform::ScopedSystemCalls scoped(calls);
    return writeNewFileDurably(container.str(), "regular/imported", text, mode);
}

// Owner-only whatever the umask: a first send under umask 0277 (which would leave folders
// 0500 and lock every later send out) and a second under 022 both succeed.
TEST(DurableWrite, WritesExactBytesUnderAFreshNameWithOwnerOnlyPermissions) {
    for (const StagingMode mode : {StagingMode::automatic, StagingMode::stagingFolderOnly}) {
        TemporaryFolder container;
        const auto folder = container.path() / "regular" / "imported";
        std::size_t sent = 0;
        for (const mode_t umask : {0277, 022}) {
            SCOPED_TRACE("umask " + std::to_string(umask));
            FaultySystemCalls calls;
            DurableWriteResult result;
            {
                testing_support::ScopedUmask scopedUmask(umask);
                result = writeWith(calls, container, someText(), mode);
            }
            ASSERT_TRUE(result.name) << result.error->localizedDescription();
            EXPECT_TRUE(std::regex_match(*result.name, kUuidName)) << *result.name;
            const auto entries = entriesOf(folder);
            EXPECT_EQ(entries.size(), ++sent);
            EXPECT_EQ(std::count(entries.begin(), entries.end(), *result.name), 1);
            EXPECT_EQ(readFile(folder / *result.name), someText());
            EXPECT_EQ(modeOf(folder / *result.name), 0600u);
            EXPECT_EQ(modeOf(folder), 0700u);
            EXPECT_EQ(modeOf(container.path() / "regular"), 0700u);
            // Nothing temporary is left anywhere.
            const auto staging = container.path() / "regular" / ".imported-staging";
            EXPECT_TRUE(entriesOf(staging).empty());
            if (mode == StagingMode::stagingFolderOnly) {
                EXPECT_EQ(modeOf(staging), 0700u);
            }
            // The file and the folder were synced after the last write, before success.
            const auto log = calls.calls();
            const auto lastWrite = std::find(log.rbegin(), log.rend(), Call::write);
            ASSERT_NE(lastWrite, log.rend());
            EXPECT_GE(std::count(log.rbegin(), lastWrite, Call::fsync), 2);
        }
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

// A large text goes out in pieces while the disk is already writing the first ones: cut
// short and interrupted, every byte still arrives in order; a write that fails after the disk
// started on the text leaves nothing behind, in either way of making the file.
TEST(DurableWrite, ShortWritesAndInterruptionsStillWriteEveryByte) {
    std::string large(9 << 20, 'q');
    for (std::size_t i = 0; i < large.size(); i += 4093)
        large[i] = static_cast<char>('0' + i % 10);
    for (const StagingMode mode : {StagingMode::automatic, StagingMode::stagingFolderOnly}) {
        for (const std::string& text : {std::string(100000, 'q'), large}) {
            TemporaryFolder container;
            FaultySystemCalls calls;
            calls.setShortWrites(true);
            calls.setInterruptEveryWrite(3);
            const auto result = writeWith(calls, container, text, mode);
            ASSERT_TRUE(result.name);
            EXPECT_TRUE(readFile(container.path() / "regular" / "imported" / *result.name) == text)
                << text.size();
        }
        TemporaryFolder container;
        FaultySystemCalls full;
        full.failKind(Call::write, 8, ENOSPC);
        const auto refused = writeWith(full, container, large, mode);
        ASSERT_FALSE(refused.name);
        EXPECT_EQ(refused.error->code, ENOSPC);
        EXPECT_TRUE(entriesOf(container.path() / "regular" / "imported").empty());
        EXPECT_TRUE(entriesOf(container.path() / "regular" / ".imported-staging").empty());
    }
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

    // The import folder on a file system of its own (a mount) without unnamed files: the move
    // in crosses file systems. The refusal says so, and nothing is left on either side.
    FaultySystemCalls crossing;
    crossing.refuseUnnamedFiles(true);
    crossing.failKind(Call::renameat2, 2, EXDEV);  // the first names the claimed staged file
    const auto refused = writeWith(crossing, container, "never half-moved");
    ASSERT_FALSE(refused.name);
    EXPECT_EQ(refused.error->code, EXDEV);
    EXPECT_NE(refused.error->localizedDescription().find("a file system of its own"),
              std::string::npos)
        << refused.error->localizedDescription();
    EXPECT_EQ(entriesOf(container.path() / "regular" / "imported").size(), 1u);
    EXPECT_TRUE(entriesOf(container.path() / "regular" / ".imported-staging").empty());
}

// A staging name as writers give it: a UUID and a suffix.
std::string stagingName(char fill, const char* suffix) {
    std::string uuid(36, fill);
    for (const std::size_t dash : {8, 13, 18, 23})
        uuid[dash] = '-';
    return uuid + suffix;
}

// The staging folder's sweep takes a staged file only when its writer is gone (it holds no
// lock), and an empty claimed file only when it is long past the moment of its claim.
TEST(DurableWrite, StagedFilesOfDeadWritersAreSweptAndLiveOnesKept) {
    TemporaryFolder container;
    const auto staging = container.path() / "regular" / ".imported-staging";
    fs::create_directories(staging);
    const std::string dead = stagingName('A', ".partial"), live = stagingName('B', ".partial");
    const std::string oldClaim = stagingName('C', ".claim"), newClaim = stagingName('D', ".claim");
    testing_support::writeFile(staging / dead, "left by a writer that was killed");
    testing_support::writeFile(staging / live, "being written right now");
    testing_support::writeFile(staging / oldClaim, "");
    testing_support::writeFile(staging / newClaim, "");
    const timespec anHourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (staging / oldClaim).c_str(), anHourAgo, 0), 0);
    const int held = ::open((staging / live).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    FaultySystemCalls calls;
    const auto result = writeWith(calls, container, someText(), StagingMode::stagingFolderOnly);
    ASSERT_TRUE(result.name);
    EXPECT_EQ(entriesOf(staging), (std::vector<std::string>{live, newClaim}));
    ::close(held);
}

// A writer's file in the staging folder is claimed (locked) before it has a name the sweep
// takes: a second writer sweeping between the first one's creating and locking its file must
// leave it alone, and both sends succeed.
TEST(DurableWrite, AStagedFileCannotBeSweptBeforeItsWriterHoldsIt) {
    TemporaryFolder container;
    FaultySystemCalls calls;
    calls.blockNext(Call::flock);  // the first writer's lock on its new file
    platform::ScopedSystemCalls scoped(calls);
    DurableWriteResult first;
    std::thread firstWriter([&] {
        first = writeNewFileDurably(container.str(), "regular/imported", "first",
                                    StagingMode::stagingFolderOnly);
    });
    ASSERT_TRUE(calls.waitUntilBlocked(10000));
    const DurableWriteResult second = writeNewFileDurably(container.str(), "regular/imported",
                                                          "second", StagingMode::stagingFolderOnly);
    calls.release();
    firstWriter.join();
    ASSERT_TRUE(first.name) << first.error->localizedDescription();
    ASSERT_TRUE(second.name) << second.error->localizedDescription();
    const auto folder = container.path() / "regular" / "imported";
    EXPECT_EQ(readFile(folder / *first.name), "first");
    EXPECT_EQ(readFile(folder / *second.name), "second");
}

// Every entry below `root` (links not followed): its type, and a file's bytes or a link's target.
std::map<std::string, std::string> snapshot(const fs::path& root) {
    std::map<std::string, std::string> entries;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        const fs::path& path = it->path();
        const auto type = fs::symlink_status(path).type();
        std::string& entry = entries[fs::relative(path, root).string()];
        entry = std::to_string(static_cast<int>(type));
        // Appended in pieces, not as " " + a string: GCC 12 falsely warns (-Wrestrict) about
        // the insertion that form makes, once optimised.
        if (type == fs::file_type::regular)
            entry.append(" ").append(readFile(path));
        else if (type == fs::file_type::symlink)
            entry.append(" -> ").append(fs::read_symlink(path).string());
    }
    return entries;
}

// Whatever is planted in the container, a send never follows a link out of it, never uses
// another user's folder, never removes or opens what the extension did not make, and never
// hangs. It is refused (and then nothing changes anywhere) or it sends, leaving every planted
// entry as it was. Each case on both paths where it applies.
TEST(DurableWrite, PlantedEntriesAreRefusedOrLeftAsTheyWere) {
    const bool root = ::geteuid() == 0;
    const uid_t nobody = 65534;
    struct Row {
        const char* name;
        std::function<void(const fs::path& regular, const fs::path& outside)> plant;
        // The error of a refused send, per path (0: it sends).
        int refusedUnnamed, refusedStaging;
        const char* reasonWords;  // in the refusal's message
    };
    const auto link = [](const char* entry) {
        return [entry](const fs::path& regular, const fs::path& outside) {
            fs::create_directories(regular / "imported");
            fs::remove(regular / entry);
            fs::create_directory_symlink(outside, regular / entry);
        };
    };
    const auto ownedByNobody = [nobody](const char* entry) {
        return [entry, nobody](const fs::path& regular, const fs::path&) {
            fs::create_directories(regular / entry);
            ASSERT_EQ(::chown((regular / entry).c_str(), nobody, nobody), 0);
        };
    };
    std::vector<Row> rows = {
        {"regular is a link to a folder of the person's",
         [](const fs::path& regular, const fs::path& outside) {
             fs::create_directory_symlink(outside, regular);
         },
         ELOOP, ELOOP, "regular is a symbolic link"},
        {"imported is a link", link("imported"), ELOOP, ELOOP, "imported is a symbolic link"},
        {"the staging folder is a link", link(".imported-staging"), 0, ELOOP,
         ".imported-staging is a symbolic link"},
        {"imported is a file",
         [](const fs::path& regular, const fs::path&) {
             fs::create_directories(regular);
             testing_support::writeFile(regular / "imported", "not a folder");
         },
         ENOTDIR, ENOTDIR, "imported is not a folder"},
        {"the staging folder holds what the extension did not make",
         [root](const fs::path& regular, const fs::path& outside) {
             const fs::path staging = regular / ".imported-staging";
             fs::create_directories(staging);
             fs::create_directories(regular / "imported");
             // Staging names on entries that are no staged files, and files of other names.
             ASSERT_EQ(::mkfifo((staging / stagingName('1', ".partial")).c_str(), 0600), 0);
             ASSERT_EQ(::mkfifo((staging / "pipe").c_str(), 0600), 0);
             if (root) {
                 ASSERT_EQ(::mknod((staging / stagingName('2', ".partial")).c_str(), S_IFCHR | 0600,
                                   ::makedev(1, 3)),
                           0);
             }
             fs::create_directory(staging / stagingName('3', ".partial"));
             fs::create_symlink(outside / "chapter1.txt", staging / stagingName('4', ".partial"));
             testing_support::writeFile(staging / "notes.txt", "a person's notes");
             testing_support::writeFile(staging / (stagingName('5', ".partial") + ".bak"), "x");
             testing_support::writeFile(staging / stagingName('6', ".claim"), "");
         },
         0, 0, ""},
        {"folders that others may write, or that an earlier run left 0500",
         [](const fs::path& regular, const fs::path&) {
             fs::create_directories(regular / "imported");
             fs::create_directories(regular / ".imported-staging");
             fs::permissions(regular, fs::perms::all);
             fs::permissions(regular / "imported", fs::perms(0500));
             fs::permissions(regular / ".imported-staging", fs::perms(0777));
         },
         0, 0, ""},
    };
    if (root) {
        rows.push_back({"regular is another user's", ownedByNobody("."), EPERM, EPERM,
                        "regular belongs to another user"});
        rows.push_back({"imported is another user's", ownedByNobody("imported"), EPERM, EPERM,
                        "imported belongs to another user"});
        rows.push_back({"the staging folder is another user's", ownedByNobody(".imported-staging"),
                        0, EPERM, ".imported-staging belongs to another user"});
    }
    for (const Row& row : rows) {
        for (const StagingMode mode : {StagingMode::automatic, StagingMode::stagingFolderOnly}) {
            const bool staging = mode == StagingMode::stagingFolderOnly;
            SCOPED_TRACE(std::string(row.name) + (staging ? ", staging folder" : ", unnamed file"));
            TemporaryFolder container, outside;
            testing_support::writeFile(outside.path() / "chapter1.txt", "It was a dark night.");
            testing_support::writeFile(outside.path() / "photo.jpg", "\xff\xd8\xff");
            testing_support::writeFile(outside.path() / stagingName('7', ".partial"), "planted");
            const fs::path regular = container.path() / "regular";
            row.plant(regular, outside.path());
            const auto containerBefore = snapshot(container.path());
            const auto outsideBefore = snapshot(outside.path());

            FaultySystemCalls calls;
            ::alarm(60);  // a send that hangs ends the test rather than stalling it
            const DurableWriteResult result = writeWith(calls, container, someText(), mode);
            ::alarm(0);

            EXPECT_EQ(snapshot(outside.path()), outsideBefore);
            const int refused = staging ? row.refusedStaging : row.refusedUnnamed;
            if (refused != 0) {
                ASSERT_FALSE(result.name);
                EXPECT_EQ(result.error->code, refused);
                EXPECT_NE(result.error->localizedDescription().find(row.reasonWords),
                          std::string::npos)
                    << result.error->localizedDescription();
                // The import folder may have been made (empty) before the staging folder was
                // found unusable.
                auto containerAfter = snapshot(container.path());
                if (!containerBefore.count("regular/imported") &&
                    entriesOf(regular / "imported").empty())
                    containerAfter.erase("regular/imported");
                EXPECT_EQ(containerAfter, containerBefore);
                continue;
            }
            ASSERT_TRUE(result.name) << result.error->localizedDescription();
            EXPECT_EQ(readFile(regular / "imported" / *result.name), someText());
            auto containerAfter = snapshot(container.path());
            containerAfter.erase("regular/imported/" + *result.name);
            for (const char* made : {"regular/imported", "regular/.imported-staging"}) {
                if (!containerBefore.count(made))
                    containerAfter.erase(made);
            }
            EXPECT_EQ(containerAfter, containerBefore);
            for (const char* folder : {"regular", "regular/imported"})
                EXPECT_EQ(modeOf(container.path() / folder), 0700u) << folder;
            if (staging) {
                EXPECT_EQ(modeOf(regular / ".imported-staging"), 0700u);
            }
        }
    }
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
