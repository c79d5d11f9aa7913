// Locating and listing the import folder, and writing into it through the file manager.
#include "storage/ImportFolder.h"

#include <gtest/gtest.h>

#include "support/TemporaryFolder.h"

namespace {

using platform::FileManager;
using testing_support::TemporaryFolder;

// Points the default file manager at a container root for one test.
class ScopedContainerRoot {
  public:
    ScopedContainerRoot(const std::string& root, std::vector<std::string> groups) {
        FileManager::defaultManager().setContainerRoot(root);
        FileManager::defaultManager().setReachableGroups(std::move(groups));
    }
    ~ScopedContainerRoot() {
        FileManager::defaultManager().setContainerRoot("");
        FileManager::defaultManager().setReachableGroups({});
    }
};

TEST(ImportFolder, IsRegularImportedInTheGroupsContainerWhenTheGroupIsReachable) {
    TemporaryFolder root;
    {
        ScopedContainerRoot scoped(root.str(), {});
        EXPECT_FALSE(quorvane::importFolderURL(FileManager::defaultManager()))
            << "a group the process may not reach";
        EXPECT_TRUE(quorvane::sharedFileList(FileManager::defaultManager()).empty());
        const auto result = quorvane::writeCapturedText(platform::String("text"));
        EXPECT_FALSE(result.succeeded());
        EXPECT_TRUE(testing_support::entriesOf(root.path()).empty())
            << "no container: nothing created";
    }
    ScopedContainerRoot scoped(root.str(), {quorvane::kApplicationGroupIdentifier});
    const auto folder = quorvane::importFolderURL(FileManager::defaultManager());
    ASSERT_TRUE(folder);
    EXPECT_EQ(folder->path(), root.str() + "/group.app.quorvane.teleprompter/regular/imported");
    EXPECT_FALSE(std::filesystem::exists(folder->path())) << "locating does not create";
    EXPECT_TRUE(quorvane::sharedFileList(FileManager::defaultManager()).empty()) << "no folder yet";
}

TEST(ImportFolder, ListsEveryEntryAsItIsIncludingHiddenOnesAndSubfolders) {
    TemporaryFolder root;
    ScopedContainerRoot scoped(root.str(), {quorvane::kApplicationGroupIdentifier});
    quorvane::WriteResult first;
    {
        // The container and the folders are owner-only whatever the umask, and a container
        // an earlier run left closed to its owner is opened again.
        const std::string container = root.str() + "/" + quorvane::kApplicationGroupIdentifier;
        std::filesystem::create_directory(container);
        std::filesystem::permissions(container, std::filesystem::perms(0500));
        testing_support::ScopedUmask umask(0277);
        first = quorvane::writeCapturedText(platform::String("same"));
    }
    const auto second = quorvane::writeCapturedText(platform::String("same"));
    ASSERT_TRUE(first.succeeded() && second.succeeded());
    for (const std::string folder : {"", "/regular", "/regular/imported"})
        EXPECT_EQ(testing_support::modeOf(root.str() + "/" + quorvane::kApplicationGroupIdentifier +
                                          folder),
                  0700u)
            << folder;
    EXPECT_NE(first.file->path(), second.file->path());
    const auto folder = *quorvane::importFolderURL(FileManager::defaultManager());
    testing_support::writeFile(folder.path() + "/.hidden", "");
    std::filesystem::create_directory(folder.path() + "/subfolder");

    std::vector<std::string> listed;
    for (const auto& url : quorvane::sharedFileList(FileManager::defaultManager())) {
        EXPECT_EQ(url.path().rfind(folder.path() + "/", 0), 0u);
        listed.push_back(url.lastPathComponent());
    }
    std::sort(listed.begin(), listed.end());
    std::vector<std::string> expected{".hidden", "subfolder", first.file->lastPathComponent(),
                                      second.file->lastPathComponent()};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listed, expected);
}

}  // namespace
