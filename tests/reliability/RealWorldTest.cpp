// The share host against real failures of real file systems, each in a private mount namespace:
// a full disk, a container that refuses writes, a power cut in the middle of sends, and a FAT
// file system (no unnamed files: the staging path for real; the kernel's own, else fusefat).
// Each is skipped, saying why, where the machine does not allow it (not root, no namespaces,
// mounts refused, no loop devices, no mkfs.ext4 or mkfs.vfat). And the host against links
// planted in the container.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "support/MountNamespace.h"
#include "support/Subprocess.h"
#include "support/TemporaryFolder.h"

namespace {

namespace fs = std::filesystem;
using testing_support::Outcome;
using testing_support::ProcessOptions;
using testing_support::TemporaryFolder;

constexpr const char* kGroup = "group.app.quorvane.teleprompter";

// Runs the body in its own mount namespace and turns its report into the test's result.
void runIsolated(const std::function<Outcome()>& body) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to mount file systems";
    const Outcome outcome = testing_support::runInPrivateMountNamespace(body);
    if (outcome.status == Outcome::Status::skipped)
        GTEST_SKIP() << outcome.message;
    ASSERT_EQ(outcome.status, Outcome::Status::passed) << outcome.message;
    if (!outcome.message.empty())
        std::printf("%s\n", outcome.message.c_str());
}

struct Send {
    int exitStatus;
    nlohmann::json report;
};

Send sendWithHost(const fs::path& containerRoot, const fs::path& input,
                  ProcessOptions options = {}) {
    options.environment["QUORVANE_CONTAINER_ROOT"] = containerRoot.string();
    const auto result =
        testing_support::runProcess(QUORVANE_HOST, {"--send", "--json", input.string()}, options);
    return {result.exitStatus, nlohmann::json::parse(result.out, nullptr, false)};
}

// Empty when the send failed as promised: exit 3, writeFailed, and beneath it the system's
// `error` (when one is named).
std::string failedCleanly(const Send& send, std::optional<int> error) {
    std::ostringstream problem;
    if (send.exitStatus != 3)
        problem << "exit status " << send.exitStatus << ", not 3; ";
    const nlohmann::json& report = send.report;
    if (!report.is_object() || report.value("outcome", "") != "failed")
        problem << "outcome is not \"failed\": " << report.dump() << "; ";
    else if (report["error"].value("code", -1) != 1 || !report["error"]["underlying"].is_object() ||
             (error && report["error"]["underlying"].value("code", -1) != *error))
        problem << "not writeFailed with errno " << error.value_or(0)
                << " beneath: " << report["error"].dump() << "; ";
    return problem.str();
}

std::size_t entryCount(const fs::path& folder) {
    return testing_support::entriesOf(folder).size();
}

std::uint64_t freeBytes(const fs::path& path) {
    struct ::statvfs status {};
    ::statvfs(path.c_str(), &status);
    return static_cast<std::uint64_t>(status.f_bfree) * status.f_frsize;
}

TEST(RealWorld, AFullDiskFailsTheSendCleanlyAndGivesTheSpaceBack) {
    TemporaryFolder outside;
    testing_support::writeFile(outside.path() / "small", "fits on the disk\n");
    testing_support::writeFile(outside.path() / "large", std::string(3 << 20, 'x'));
    runIsolated([&]() -> Outcome {
        const fs::path disk = outside.path() / "disk";
        fs::create_directory(disk);
        if (const auto error = testing_support::mountFileSystem("tmpfs", disk, "size=1m,mode=0700");
            !error.empty())
            return Outcome::skipped("mounts refused: " + error);
        const fs::path imported = disk / kGroup / "regular" / "imported";
        if (const Send first = sendWithHost(disk, outside.path() / "small"); first.exitStatus != 0)
            return Outcome::failed("a small text did not fit: exit " +
                                   std::to_string(first.exitStatus));
        const std::uint64_t freeBefore = freeBytes(disk);

        const Send large = sendWithHost(disk, outside.path() / "large");
        if (const std::string problem = failedCleanly(large, ENOSPC); !problem.empty())
            return Outcome::failed("a text larger than the disk: " + problem);
        if (entryCount(imported) != 1)
            return Outcome::failed("the failed send left entries in the import folder");
        if (fs::exists(disk / kGroup / "regular" / ".imported-staging") &&
            entryCount(disk / kGroup / "regular" / ".imported-staging") != 0)
            return Outcome::failed("the failed send left a staged file");
        if (freeBytes(disk) != freeBefore)
            return Outcome::failed("the failed send kept space: " +
                                   std::to_string(freeBefore - freeBytes(disk)) + " bytes");
        if (const Send after = sendWithHost(disk, outside.path() / "small"); after.exitStatus != 0)
            return Outcome::failed("the disk took no text after the failure");
        return Outcome::passed("full disk: exit 3 (ENOSPC), nothing left, space given back");
    });
}

TEST(RealWorld, AContainerThatRefusesWritesFailsTheSendCleanly) {
    TemporaryFolder outside;
    testing_support::writeFile(outside.path() / "text", "Nothing may be written here.\n");
    runIsolated([&]() -> Outcome {
        // One container whose import folder exists already, one still empty; both read-only.
        const fs::path used = outside.path() / "used";
        const fs::path empty = outside.path() / "empty";
        fs::create_directories(empty);
        if (const Send first = sendWithHost(used, outside.path() / "text"); first.exitStatus != 0)
            return Outcome::failed("the first send failed: exit " +
                                   std::to_string(first.exitStatus));
        for (const fs::path& root : {used, empty}) {
            if (const auto error = testing_support::bindReadOnly(root); !error.empty())
                return Outcome::skipped("mounts refused: " + error);
        }
        const fs::path imported = used / kGroup / "regular" / "imported";
        if (const std::string problem =
                failedCleanly(sendWithHost(used, outside.path() / "text"), EROFS);
            !problem.empty())
            return Outcome::failed("into a read-only import folder: " + problem);
        if (entryCount(imported) != 1)
            return Outcome::failed("the refused send changed the import folder");
        // There the group's container itself cannot be made: it is not available.
        if (const std::string problem =
                failedCleanly(sendWithHost(empty, outside.path() / "text"), std::nullopt);
            !problem.empty())
            return Outcome::failed("into a read-only empty container: " + problem);
        if (entryCount(empty) != 0)
            return Outcome::failed("the refused send made something in the empty container");
        return Outcome::passed("read-only container: exit 3 (EROFS), nothing written");
    });
}

// ---- power cut ----

// Text `number`: a header naming it and its length, then letters; 2 to 64 KB.
std::string powerCutText(int number) {
    std::mt19937 random(static_cast<unsigned>(number) * 7919u);
    const std::size_t size = 2048 + random() % (62 * 1024);
    std::string text = "text " + std::to_string(number) + " " + std::to_string(size) + "\n";
    while (text.size() < size)
        text.push_back(static_cast<char>('a' + random() % 26));
    return text;
}

// True when every thread of every process in process group `group` is stopped. A stopped thread
// is between system calls, so nothing it started is still on its way to the disk.
bool groupStopped(pid_t group) {
    std::error_code error;
    for (const auto& process : fs::directory_iterator("/proc", error)) {
        const std::string pid = process.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        for (const auto& task : fs::directory_iterator(process.path() / "task", error)) {
            // After the command's closing parenthesis: state, parent, process group.
            const std::string stat = testing_support::readFile(task.path() / "stat");
            const std::size_t close = stat.rfind(')');
            if (close == std::string::npos)
                continue;
            char state = 0;
            long parent = 0, processGroup = 0;
            std::istringstream(stat.substr(close + 1)) >> state >> parent >> processGroup;
            if (processGroup == group && state != 'T' && state != 't' && state != 'Z' &&
                state != 'X')
                return false;
        }
    }
    return true;
}

// Copies the disk image as a power cut at one instant would leave it. A copy taken while the
// writers run is torn (a journal block copied after the data blocks it commits), so the writers
// are stopped for the copy, wherever they are between two system calls.
void copyAtOneInstant(pid_t writers, const fs::path& image, const fs::path& copy) {
    ::kill(-writers, SIGSTOP);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!groupStopped(writers) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    fs::copy_file(image, copy);
    ::kill(-writers, SIGCONT);
}

std::set<int> numbersIn(const fs::path& log) {
    std::set<int> numbers;
    std::istringstream lines(testing_support::readFile(log));
    for (int number; lines >> number;)
        numbers.insert(number);
    return numbers;
}

// Checks one copy of the disk: every file complete and exactly one of the texts, every text
// in `mustHave` present, nothing staged. Returns what is wrong, or empty.
std::string checkCopy(const std::string& mountProgram, const fs::path& image,
                      const fs::path& mountPoint, const std::set<int>& mustHave,
                      std::size_t* present) {
    fs::create_directory(mountPoint);
    const auto mounted = testing_support::runProcess(
        mountProgram, {"-o", "loop", image.string(), mountPoint.string()});
    if (mounted.exitStatus != 0)
        return "the copy does not mount: " + mounted.err;
    std::string problem;
    std::set<int> found;
    const fs::path regular = mountPoint / kGroup / "regular";
    for (const std::string& name : testing_support::entriesOf(regular / "imported")) {
        const std::string contents = testing_support::readFile(regular / "imported" / name);
        int number = -1;
        std::istringstream(contents.substr(0, 32)).ignore(5) >> number;
        if (name.size() != 36 || number < 0 || contents != powerCutText(number)) {
            problem += "entry " + name + " is not a complete text (" +
                       std::to_string(contents.size()) + " bytes); ";
        }
        found.insert(number);
    }
    for (int number : mustHave) {
        if (!found.count(number))
            problem += "text " + std::to_string(number) + " was reported sent but is missing; ";
    }
    if (fs::exists(regular / ".imported-staging") && entryCount(regular / ".imported-staging"))
        problem += "a staged file survived; ";
    *present = found.size();
    (void)testing_support::unmount(mountPoint);
    return problem;
}

TEST(RealWorld, APowerCutKeepsEveryTextReportedSentAndNoPartialFile) {
    const std::string mkfs = testing_support::findProgram("mkfs.ext4");
    const std::string mountProgram = testing_support::findProgram("mount");
    if (mkfs.empty() || mountProgram.empty())
        GTEST_SKIP() << "needs mkfs.ext4 and mount";
    if (!fs::exists("/dev/loop-control"))
        GTEST_SKIP() << "no loop devices (/dev/loop-control)";
    constexpr int kTexts = 60;
    constexpr int kCopies = 3;
    TemporaryFolder outside;
    for (int number = 0; number < kTexts; ++number)
        testing_support::writeFile(outside.path() / std::to_string(number), powerCutText(number));

    runIsolated([&]() -> Outcome {
        const fs::path image = outside.path() / "disk.img";
        const fs::path disk = outside.path() / "disk";
        fs::create_directory(disk);
        testing_support::writeFile(image, "");
        fs::resize_file(image, 64 << 20);
        if (testing_support::runProcess(mkfs, {"-q", "-F", image.string()}).exitStatus != 0)
            return Outcome::skipped("mkfs.ext4 failed on a 64 MB image");
        // A long commit interval: only what is synced explicitly reaches the disk soon.
        const auto mounted = testing_support::runProcess(
            mountProgram, {"-o", "loop,commit=600", image.string(), disk.string()});
        if (mounted.exitStatus != 0)
            return Outcome::skipped("cannot loop-mount an ext4 image: " + mounted.err);

        // The copy must really be a power cut: a file written without a sync is not in it.
        testing_support::writeFile(disk / "unsynced", "lost in a power cut\n");
        fs::copy_file(image, outside.path() / "probe.img");
        const fs::path probe = outside.path() / "probe";
        fs::create_directory(probe);
        if (testing_support::runProcess(
                mountProgram,
                {"-o", "loop", (outside.path() / "probe.img").string(), probe.string()})
                .exitStatus != 0)
            return Outcome::failed("a copy of the idle disk does not mount");
        const bool keptUnsynced = fs::exists(probe / "unsynced");
        (void)testing_support::unmount(probe);
        if (keptUnsynced)
            return Outcome::skipped(
                "a copy of this loop device keeps unsynced writes, so it "
                "does not show what a power cut leaves");

        // The writer sends the texts one after another and logs each one reported sent.
        const fs::path log = outside.path() / "sent.log";
        const pid_t writer = ::fork();
        if (writer > 0)
            ::setpgid(writer, writer);  // set on both sides: the group exists before any stop
        if (writer == 0) {
            ::setpgid(0, 0);
            const int logFd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            for (int number = 0; number < kTexts; ++number) {
                if (sendWithHost(disk, outside.path() / std::to_string(number)).exitStatus == 0) {
                    const std::string line = std::to_string(number) + "\n";
                    (void)!::write(logFd, line.data(), line.size());
                }
            }
            ::_exit(0);
        }
        // Copies of the disk taken while sends are in flight: what a power cut leaves.
        std::vector<std::set<int>> sentBeforeCopy;
        for (int copy = 0; copy < kCopies; ++copy) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
            while (numbersIn(log).size() < static_cast<std::size_t>(10 + copy * 15) &&
                   std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            sentBeforeCopy.push_back(numbersIn(log));
            copyAtOneInstant(writer, image,
                             outside.path() / ("copy-" + std::to_string(copy) + ".img"));
        }
        int status = 0;
        ::waitpid(writer, &status, 0);
        (void)testing_support::unmount(disk);

        std::string summary = "power cut:";
        for (int copy = 0; copy < kCopies; ++copy) {
            std::size_t present = 0;
            const std::string problem = checkCopy(
                mountProgram, outside.path() / ("copy-" + std::to_string(copy) + ".img"),
                outside.path() / ("copy-" + std::to_string(copy)), sentBeforeCopy[copy], &present);
            if (!problem.empty())
                return Outcome::failed("copy " + std::to_string(copy) + ": " + problem);
            summary += " copy " + std::to_string(copy) + " kept all " +
                       std::to_string(sentBeforeCopy[copy].size()) + " reported sent (" +
                       std::to_string(present) + " files, all complete);";
        }
        return Outcome::passed(summary);
    });
}

// ---- the staging path ----

// Every entry below `root` (links not followed) with a file's bytes or a link's target.
std::map<std::string, std::string> contentsBelow(const fs::path& root) {
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        std::string& value = entries[fs::relative(entry.path(), root).string()];
        if (entry.is_symlink())
            value = "-> " + fs::read_symlink(entry.path()).string();
        else if (entry.is_regular_file())
            value = testing_support::readFile(entry.path());
        else
            value = "folder";
    }
    return entries;
}

std::string sentFileOf(const Send& send) {
    if (send.exitStatus != 0 || !send.report.is_object() || send.report["files"].size() != 1)
        return {};
    return send.report["files"][0].get<std::string>();
}

TEST(RealWorld, OnAFatFileSystemTheStagingPathSendsSweepsOnlyItsOwnAndRefusesSharedFolders) {
    const std::string mkfs = testing_support::findProgram("mkfs.vfat");
    const std::string mountProgram = testing_support::findProgram("mount");
    const std::string fusefat = testing_support::findProgram("fusefat");
    if (mkfs.empty() || mountProgram.empty())
        GTEST_SKIP() << "needs mkfs.vfat (dosfstools) and mount";
    const bool kernelFat =
        testing_support::readFile("/proc/filesystems").find("\tvfat\n") != std::string::npos;
    if (kernelFat && !fs::exists("/dev/loop-control"))
        GTEST_SKIP() << "no loop devices (/dev/loop-control)";
    if (!kernelFat && (fusefat.empty() || !fs::exists("/dev/fuse")))
        GTEST_SKIP() << "the kernel has no FAT file system, and fusefat or /dev/fuse is missing";
    TemporaryFolder outside;
    const std::string texts[] = {"Title on FAT\nCaf\xc3\xa9 \xf0\x9f\x8e\xac\r\n", "",
                                 std::string(200000, 'f')};
    for (std::size_t i = 0; i < std::size(texts); ++i)
        testing_support::writeFile(outside.path() / std::to_string(i), texts[i]);
    runIsolated([&]() -> Outcome {
        const fs::path image = outside.path() / "fat.img";
        const fs::path disk = outside.path() / "disk";
        fs::create_directory(disk);
        testing_support::writeFile(image, "");
        fs::resize_file(image, 32 << 20);
        if (testing_support::runProcess(mkfs, {image.string()}).exitStatus != 0)
            return Outcome::skipped("mkfs.vfat failed on a 32 MB image");
        const auto mountFat = [&](const std::string& umask) {
            if (!kernelFat)  // its files are owner-only (rwx------), whatever is asked
                return testing_support::runProcess(fusefat,
                                                   {"-o", "rw+", image.string(), disk.string()});
            return testing_support::runProcess(
                mountProgram, {"-t", "vfat", "-o", "loop,showexec,umask=" + umask, image.string(),
                               disk.string()});
        };
        if (const auto mounted = mountFat("077"); mounted.exitStatus != 0)
            return Outcome::skipped("cannot loop-mount a FAT image: " + mounted.err);
        // Whatever happens, the file system is unmounted (which also ends fusefat).
        const std::unique_ptr<const fs::path, void (*)(const fs::path*)> unmountAtEnd(
            &disk, [](const fs::path* path) { (void)testing_support::unmount(*path); });
        const fs::path regular = disk / kGroup / "regular";
        const fs::path staging = regular / ".imported-staging";

        for (std::size_t i = 0; i < std::size(texts); ++i) {
            const Send send = sendWithHost(disk, outside.path() / std::to_string(i));
            const std::string file = sentFileOf(send);
            if (file.empty() || testing_support::readFile(file) != texts[i])
                return Outcome::failed("text " + std::to_string(i) + " was not sent exactly: " +
                                       send.report.dump().substr(0, 600));
        }
        if (!fs::is_directory(staging) || entryCount(staging) != 0)
            return Outcome::failed("the sends did not go through an empty staging folder");
        if (testing_support::modeOf(regular / "imported") != 0700 ||
            testing_support::modeOf(staging) != 0700)
            return Outcome::failed("folders are not owner-only");
        // Each file is the text's bytes alone, owner-only (fusefat adds the execute bit).
        for (const auto& entry : fs::directory_iterator(regular / "imported")) {
            if ((testing_support::modeOf(entry.path()) & 0677) != 0600)
                return Outcome::failed("a file is not owner-only: " + entry.path().string());
        }

        // A writer's leftover is swept; a folder and a file of other names are left alone.
        const std::string dead = "0A0A0A0A-0A0A-4A0A-8A0A-0A0A0A0A0A0A.partial";
        testing_support::writeFile(staging / dead, "staged by a writer that was killed");
        fs::create_directory(staging / "photos");
        testing_support::writeFile(staging / "photos" / "photo.jpg", "\xff\xd8\xff");
        testing_support::writeFile(staging / "chapter1.txt", "It was a dark night.");
        if (sentFileOf(sendWithHost(disk, outside.path() / "0")).empty())
            return Outcome::failed("a send beside planted entries failed");
        const std::map<std::string, std::string> left{{"chapter1.txt", "It was a dark night."},
                                                      {"photos", "folder"},
                                                      {"photos/photo.jpg", "\xff\xd8\xff"}};
        if (contentsBelow(staging) != left)
            return Outcome::failed("the staging folder was not swept of exactly the leftover");
        (void)testing_support::unmount(disk);
        if (!kernelFat)
            return Outcome::passed("FAT (fusefat): " + std::to_string(std::size(texts) + 1) +
                                   " texts sent through the staging folder, only the leftover "
                                   "swept");

        // Mounted so that every user may write everything: folders that cannot be made
        // owner-only are not used.
        if (const auto mounted = mountFat("000"); mounted.exitStatus != 0)
            return Outcome::failed("cannot mount the FAT image again: " + mounted.err);
        const std::size_t before = entryCount(regular / "imported");
        const Send shared = sendWithHost(disk, outside.path() / "0");
        if (const std::string problem = failedCleanly(shared, EPERM); !problem.empty())
            return Outcome::failed("into folders every user may write: " + problem);
        if (entryCount(regular / "imported") != before)
            return Outcome::failed("the refused send changed the import folder");
        (void)testing_support::unmount(disk);
        return Outcome::passed("FAT (kernel): " + std::to_string(std::size(texts) + 1) +
                               " texts sent through the staging folder, only the leftover swept; "
                               "folders every user may write refused");
    });
}

// The links a person (or an attacker) might plant in the container, with the real host on both
// paths: nothing is followed out of the container, and the folder they point at keeps its files.
TEST(RealWorld, TheHostNeverFollowsALinkPlantedInTheContainer) {
    TemporaryFolder inputs;
    testing_support::writeFile(inputs.path() / "text", "A text that must stay in the container.\n");
    for (const bool stagingPath : {false, true}) {
        ProcessOptions options;
        if (stagingPath)
            options = testing_support::preloading(options, QUORVANE_REFUSE_UNNAMED_FILES);
        for (const std::string entry :
             {"regular", "regular/imported", "regular/.imported-staging"}) {
            SCOPED_TRACE(entry + (stagingPath ? ", staging path" : ", unnamed files"));
            TemporaryFolder root, person;
            testing_support::writeFile(person.path() / "chapter1.txt", "It was a dark night.");
            testing_support::writeFile(person.path() / "photo.jpg", "\xff\xd8\xff");
            testing_support::writeFile(
                person.path() / "0B0B0B0B-0B0B-4B0B-8B0B-0B0B0B0B0B0B.partial", "staging name");
            const auto personBefore = contentsBelow(person.path());
            const fs::path planted = root.path() / kGroup / entry;
            fs::create_directories(planted.parent_path());
            fs::create_directory_symlink(person.path(), planted);

            const Send send = sendWithHost(root.path(), inputs.path() / "text", options);
            EXPECT_EQ(contentsBelow(person.path()), personBefore);
            if (!stagingPath && entry == "regular/.imported-staging") {
                EXPECT_EQ(send.exitStatus, 0) << "the unnamed-file path needs no staging folder";
                continue;
            }
            EXPECT_EQ(failedCleanly(send, ELOOP), "");
            EXPECT_NE(send.report.dump().find(planted.filename().string() + " is a symbolic link"),
                      std::string::npos)
                << send.report.dump();
        }
    }
}

}  // namespace
