// The hand-over on its own, as every reader links it: no platform, no extension.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

#include "handover/ContainerLocation.h"
#include "handover/FolderWalk.h"
#include "handover/ShareContract.h"
#include "handover/TextTitle.h"
#include "handover/TitleCases.h"
#include "support/TemporaryFolder.h"

namespace {

namespace fs = std::filesystem;
using handover::FolderWalk;
using handover::Missing;
using handover::WalkFailure;
using Kind = handover::WalkFailure::Kind;

// Every entry below `top` (links not followed) with its mode.
std::vector<std::pair<std::string, unsigned>> treeOf(const fs::path& top) {
    std::vector<std::pair<std::string, unsigned>> tree;
    for (const auto& entry : fs::recursive_directory_iterator(top))
        tree.emplace_back(entry.path().string(), testing_support::modeOf(entry.path()));
    std::sort(tree.begin(), tree.end());
    return tree;
}

TEST(Handover, TitleIsTheFirstLineWithoutTheWhiteSpaceAroundIt) {
    for (const auto& row : testing_support::kTitleCases) {
        const handover::TitleBounds bounds = handover::titleBounds(row.text);
        EXPECT_EQ(handover::titleOf(row.text), row.title) << row.name;
        EXPECT_EQ(row.text.substr(bounds.start, bounds.lineEnd - bounds.start), row.line)
            << row.name;
    }
    // A head cut anywhere (a reader reads the first bytes only) is never read past.
    const std::string text = "\xe2\x80\xa8 Title \xe2\x80\xa9rest";
    for (std::size_t size = 0; size <= text.size(); ++size) {
        const handover::TitleBounds bounds = handover::titleBounds(text.substr(0, size));
        EXPECT_LE(bounds.start, bounds.end);
        EXPECT_LE(bounds.end, bounds.lineEnd);
        EXPECT_LE(bounds.lineEnd, size);
    }
}

// A reader's walk (nothing made) down whatever was planted in the container: the folders above
// the container may be links; from the container down nothing is followed, and every refusal
// names the entry. Nothing is made or changed on the way.
TEST(Handover, ReadersWalkRefusesWhatWasPlantedAndMakesNothing) {
    const bool root = ::geteuid() == 0;
    struct Row {
        const char* name;
        std::function<void(const fs::path& top, const fs::path& outside)> plant;
        std::optional<Kind> refusal;  // none: the walk reaches "imported"
        const char* entry;            // the refused entry, below the container
    };
    const auto linkTo = [](const char* entry) {
        return [entry](const fs::path& top, const fs::path& outside) {
            fs::create_directories((top / entry).parent_path());
            fs::create_directory_symlink(outside, top / entry);
        };
    };
    std::vector<Row> rows = {
        {"nothing sent yet", [](const fs::path&, const fs::path&) {}, Kind::missing, ""},
        {"the folder is there",
         [](const fs::path& top, const fs::path&) {
             fs::create_directories(top / "c/regular/imported");
         },
         std::nullopt, ""},
        {"the folder of containers is a link (the person's own)",
         [](const fs::path& top, const fs::path& outside) {
             fs::create_directories(outside / "c/regular/imported");
             fs::remove(top);
             fs::create_directory_symlink(outside, top);
         },
         std::nullopt, ""},
        {"the container is a link", linkTo("c"), Kind::link, "c"},
        {"regular is a link", linkTo("c/regular"), Kind::link, "c/regular"},
        {"imported is a link", linkTo("c/regular/imported"), Kind::link, "c/regular/imported"},
        {"imported is a file",
         [](const fs::path& top, const fs::path&) {
             fs::create_directories(top / "c/regular");
             testing_support::writeFile(top / "c/regular/imported", "not a folder");
         },
         Kind::notFolder, "c/regular/imported"},
        {"regular is a FIFO",
         [](const fs::path& top, const fs::path&) {
             fs::create_directories(top / "c");
             ASSERT_EQ(::mkfifo((top / "c/regular").c_str(), 0600), 0);
         },
         Kind::notFolder, "c/regular"},
    };
    if (root) {
        rows.push_back({"regular is another user's",
                        [](const fs::path& top, const fs::path&) {
                            fs::create_directories(top / "c/regular/imported");
                            ASSERT_EQ(::chown((top / "c/regular").c_str(), 65534, 65534), 0);
                        },
                        Kind::otherUser, "c/regular"});
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        testing_support::TemporaryFolder top, outside;
        // The folder of containers: a folder of the test's own, which a row may replace.
        const fs::path containers = top.path() / "containers";
        fs::create_directory(containers);
        row.plant(containers, outside.path());
        const auto before = treeOf(top.path());
        const std::string container = containers.string() + "/c";
        WalkFailure failure;
        const handover::WalkedFolder walked =
            FolderWalk().down(container, handover::kImportFolderPath, Missing::report, &failure);
        EXPECT_EQ(treeOf(top.path()), before) << "a reader's walk makes and changes nothing";
        if (!row.refusal) {
            ASSERT_TRUE(walked.folder) << failure.sentence();
            EXPECT_TRUE(walked.parent);
            EXPECT_EQ(walked.shown, container + "/regular/imported");
            EXPECT_EQ(walked.name, "imported");
            continue;
        }
        EXPECT_FALSE(walked.folder);
        EXPECT_EQ(failure.kind, *row.refusal);
        if (*row.refusal == Kind::missing) {
            EXPECT_EQ(failure.error, ENOENT);
            continue;
        }
        EXPECT_TRUE(failure.refused());
        EXPECT_EQ(failure.path, containers.string() + "/" + row.entry);
        EXPECT_EQ(failure.sentence("listed").rfind(failure.path, 0), 0u) << failure.sentence();
    }
}

// The writer's walk makes what is missing owner-only whatever the umask, and tightens a folder
// of its own that an earlier run left open; it stops at the container, which it never makes.
TEST(Handover, WritersWalkMakesFoldersOwnerOnly) {
    testing_support::TemporaryFolder top;
    const std::string container = top.str() + "/c";
    WalkFailure failure;
    EXPECT_FALSE(FolderWalk().down(container, "regular/imported", Missing::make, &failure).folder);
    EXPECT_EQ(failure.kind, Kind::missing);
    EXPECT_FALSE(fs::exists(container));

    fs::create_directories(container + "/regular");
    fs::permissions(container + "/regular", fs::perms(0777));
    {
        testing_support::ScopedUmask open(0);
        const handover::WalkedFolder walked =
            FolderWalk().down(container + "/", "/regular//imported/", Missing::make, &failure);
        ASSERT_TRUE(walked.folder) << failure.sentence();
        EXPECT_EQ(walked.name, "imported");
    }
    EXPECT_EQ(testing_support::modeOf(container + "/regular"), 0700u);
    EXPECT_EQ(testing_support::modeOf(container + "/regular/imported"), 0700u);

    EXPECT_FALSE(FolderWalk().down(container, "//", Missing::make, &failure).folder);
    EXPECT_EQ(failure.error, EINVAL);
}

}  // namespace
