// The import folder's reader library: what counts as a text, titles and file names, listing,
// and the hand-over's states after a reader was killed at each step.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "handover/ContainerLocation.h"
#include "reader/Inbox.h"
#include "reader/TextTitle.h"
#include "support/MountNamespace.h"
#include "support/TemporaryFolder.h"

namespace {

namespace fs = std::filesystem;
using reader::Inbox;
using reader::Outcome;
using testing_support::TemporaryFolder;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A container root with an import folder, and texts put there as the share sheet would.
class ImportFolder {
  public:
    ImportFolder() : folder_(handover::importFolderPath(root_.str())) {
        fs::create_directories(folder_);
    }
    [[nodiscard]] std::string root() const { return root_.str(); }
    [[nodiscard]] const fs::path& folder() const { return folder_; }
    [[nodiscard]] fs::path claims() const { return folder_.parent_path() / ".imported-claims"; }

    // A text named `id`, landed `age` seconds before 2026-01-01.
    fs::path add(const std::string& id, const std::string& bytes, int age = 0) {
        const fs::path path = folder_ / id;
        writeFile(path, bytes);
        const struct timespec times[2] = {{1767225600 - age, 0}, {1767225600 - age, 0}};
        ::utimensat(AT_FDCWD, path.c_str(), times, 0);
        return path;
    }

    std::vector<reader::WaitingText> waiting() {
        std::string problem;
        auto listing = Inbox(root()).list(&problem);
        EXPECT_TRUE(listing) << problem;
        return listing ? listing->texts : std::vector<reader::WaitingText>{};
    }

  private:
    TemporaryFolder root_;
    fs::path folder_;
};

std::string uuid(int n) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%08X-0000-4000-8000-%012X", n, n);
    return buffer;
}

std::vector<std::string> entries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

reader::DeliveryFolder openDelivery(const fs::path& path) {
    std::string problem;
    auto folder = reader::DeliveryFolder::open(path.string(), &problem);
    EXPECT_TRUE(folder) << problem;
    return std::move(*folder);
}

TEST(TextTitle, NamesTitlesAndFileNames) {
    EXPECT_TRUE(reader::isTextName("DAD5E5C1-6D0A-45C5-BF5A-A17800E7A647"));
    for (const char* name :
         {"dad5e5c1-6d0a-45c5-bf5a-a17800e7a647", "DAD5E5C1-6D0A-45C5-BF5A-A17800E7A64",
          "DAD5E5C1-6D0A-45C5-BF5A-A17800E7A647.txt", ".syncthing.DAD5E5C1-6D0A-45C5-BF5A-A1.tmp",
          "DAD5E5C1+6D0A-45C5-BF5A-A17800E7A647", "DAD5E5C1-6D0A-45C5-BF5A-A17800E7A64G"})
        EXPECT_FALSE(reader::isTextName(name)) << name;

    struct Case {
        std::string text, title, name;
    };
    const Case cases[] = {
        {"\n\n  Evening news \r\nGood evening", "Evening news", "Evening news.txt"},
        {"", "", "Untitled.txt"},
        {" \t\n\u3000", "", "Untitled.txt"},
        {"../etc/passwd", "../etc/passwd", "-etc-passwd.txt"},
        {"...", "...", "Untitled.txt"},
        {"a\tb\x01\x7f"
         "c",
         "a\tb\x01\x7f"
         "c",
         "a b c.txt"},
        {"caf\xC3\xA9\xE2\x80\xA8next", "caf\xC3\xA9", "caf\xC3\xA9.txt"},
        {"evil\xE2\x80\xAEtxt.exe", "evil\xE2\x80\xAEtxt.exe", "eviltxt.exe.txt"},
        // Characters nobody sees (a byte-order mark, zero-width spaces) would make names that
        // read as another name, or as none (".txt").
        {"\xEF\xBB\xBF", "\xEF\xBB\xBF", "Untitled.txt"},
        {"\xEF\xBB\xBFNotes\xE2\x80\x8B\xE2\x81\xA0", "\xEF\xBB\xBFNotes\xE2\x80\x8B\xE2\x81\xA0",
         "Notes.txt"},
        {"\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x92\xBB",
         "\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x92\xBB",
         "\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x92\xBB.txt"},
        {"bad\xFF\xC3", "bad\xFF\xC3", "bad\xEF\xBF\xBD\xEF\xBF\xBD.txt"},
        {std::string(150, 'x'), std::string(150, 'x'), std::string(96, 'x') + ".txt"},
        // "a" and 40 three-byte letters: cut at a character boundary, never inside one.
        {[] {
             std::string s = "a";
             for (int i = 0; i < 40; ++i)
                 s += "\xE2\x82\xAC";
             return s;
         }(),
         "", ""},
    };
    for (const Case& c : cases) {
        if (c.name.empty()) {
            const std::string name = reader::fileNameFor(reader::titleOf(c.text), 1);
            EXPECT_EQ(name.size(), 1u + 31u * 3u + 4u) << "cut after 31 letters";
            continue;
        }
        EXPECT_EQ(reader::titleOf(c.text), c.title) << c.text;
        EXPECT_EQ(reader::fileNameFor(reader::titleOf(c.text), 1), c.name) << c.text;
    }
    EXPECT_EQ(reader::fileNameFor("Notes", 3), "Notes (3).txt");
    EXPECT_LE(reader::fileNameFor(std::string(300, 'y'), 12345).size(), 100u);

    // JSON strings escaped piece by piece join into the same string as escaped at once.
    const std::string text = "\"q\"\\\n\x01 \xC3\xA9\xF0\x9F\x98\x80 \xFF end";
    std::string whole;
    reader::appendJsonEscaped(whole, text);
    EXPECT_EQ(whole, "\\\"q\\\"\\\\\\n\\u0001 \xC3\xA9\xF0\x9F\x98\x80 \xEF\xBF\xBD end");
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
        std::string pieces, pending;
        reader::appendJsonEscaped(pieces, text.substr(0, cut), &pending, false);
        reader::appendJsonEscaped(pieces, text.substr(cut), &pending, true);
        EXPECT_EQ(pieces, whole) << "cut at " << cut;
    }

    // For a terminal, what it would act on or reorder by (DEL, C1's CSI, a direction override)
    // is escaped too; elsewhere it stays as it is. Either way the same string to a reader.
    const std::string steering =
        "a\x7f\xC2\x9B"
        "2J\xE2\x80\xAEz\xC2\xA0";
    std::string forFile, forTerminal;
    reader::appendJsonEscaped(forFile, steering);
    reader::appendJsonEscaped(forTerminal, steering, nullptr, true, true);
    EXPECT_EQ(forFile, steering);
    EXPECT_EQ(forTerminal, "a\\u007f\\u009b2J\\u202ez\xC2\xA0");
    // A listing's line: controls become spaces and the direction controls go (an override would
    // reorder the rest of the line), unless asked to stay; other characters stay as they are.
    EXPECT_EQ(reader::plainLine(steering), "a  2Jz\xC2\xA0");
    EXPECT_EQ(reader::plainLine(steering, true), "a  2J\xE2\x80\xAEz\xC2\xA0");
}

TEST(Inbox, ListsTextsOldestFirstAndLeavesEverythingElseAlone) {
    ImportFolder folder;
    folder.add(uuid(2), "Second\nbody", 10);
    folder.add(uuid(1), "  First  \r\nbody", 20);
    folder.add(uuid(3), "Third, same time as second", 10);
    const fs::path& in = folder.folder();
    // Hostile and foreign entries: none is a text, none is opened, followed or removed.
    TemporaryFolder elsewhere;
    writeFile(elsewhere.path() / "secret", "not to be taken");
    fs::create_symlink(elsewhere.path() / "secret", in / uuid(10));
    ASSERT_EQ(::mkfifo((in / uuid(11)).c_str(), 0600), 0);
    fs::create_directory(in / uuid(12));
    writeFile(in / "dad5e5c1-6d0a-45c5-bf5a-a17800e7a647", "lower case");
    writeFile(in / (".syncthing." + uuid(13) + ".tmp"), "partial");
    writeFile(in / (uuid(14) + ".sync-conflict-20260101-120000-ABCDEFG"), "conflict");
    writeFile(in / ".hidden", "hidden");
    fs::create_directory(in / ".stfolder");
    writeFile(in / ".stignore", "*\n");
    // Making a device needs privilege; without it the rest still runs.
    (void)::mknod((in / uuid(15)).c_str(), S_IFCHR | 0600, makedev(1, 3));

    std::string problem;
    auto listing = Inbox(folder.root()).list(&problem);
    ASSERT_TRUE(listing) << problem;
    ASSERT_EQ(listing->texts.size(), 3u);
    EXPECT_EQ(listing->texts[0].id, uuid(1));
    EXPECT_EQ(listing->texts[0].title, "First");
    EXPECT_EQ(listing->texts[1].id, uuid(2));
    EXPECT_EQ(listing->texts[1].bytes, 11u);
    EXPECT_EQ(listing->texts[2].id, uuid(3));
    EXPECT_GE(listing->skipped.size(), 9u);
    const auto reasonFor = [&](const std::string& name) {
        for (const auto& entry : listing->skipped)
            if (entry.name == name)
                return entry.reason;
        return std::string("not skipped");
    };
    EXPECT_EQ(reasonFor(".stignore"), "a folder-sync tool's own entry");
    EXPECT_EQ(reasonFor(".syncthing." + uuid(13) + ".tmp"), "a folder-sync tool's temporary file");

    const auto before = entries(in);
    TemporaryFolder out;
    auto results = Inbox(folder.root()).deliver(listing->texts, openDelivery(out.path()));
    ASSERT_EQ(results.size(), 3u);
    for (const auto& result : results)
        EXPECT_EQ(result.outcome, Outcome::handedOver) << result.problem;
    auto after = entries(in);
    EXPECT_EQ(after.size(), before.size() - 3);
    EXPECT_EQ(readFile(elsewhere.path() / "secret"), "not to be taken");
    EXPECT_TRUE(fs::is_symlink(in / uuid(10)));
    EXPECT_TRUE(fs::is_fifo(in / uuid(11)));
    EXPECT_EQ(entries(out.path()), (std::vector<std::string>{"First.txt", "Second.txt",
                                                             "Third, same time as second.txt"}));
    EXPECT_FALSE(fs::exists(folder.claims() / uuid(1)));

    // Delivering into the import folder itself, or below it, is refused: nothing lands there.
    folder.add(uuid(4), "Fourth");
    for (const fs::path& inside : {in, in / uuid(12)}) {
        results = Inbox(folder.root()).deliver(folder.waiting(), openDelivery(inside));
        ASSERT_EQ(results.size(), 1u);
        EXPECT_EQ(results[0].outcome, Outcome::failed);
    }
    EXPECT_EQ(entries(in).size(), after.size() + 1);
    EXPECT_TRUE(fs::is_empty(in / uuid(12)));

    // A folder of the way down (the container, "regular", "imported") that is a link is never
    // followed, as the writer never writes through one: the listing fails naming it, and the
    // text behind it stays where it is.
    for (const fs::path& level : {in.parent_path().parent_path(), in.parent_path(), in}) {
        SCOPED_TRACE(level.filename().string());
        ImportFolder linked;
        const fs::path behind = linked.add(uuid(5), "Behind a link");
        const fs::path at = fs::path(linked.root()) / fs::relative(level, folder.root());
        fs::rename(at, at.string() + ".real");
        fs::create_directory_symlink(at.filename().string() + ".real", at);
        std::string problem;
        EXPECT_FALSE(Inbox(linked.root()).list(&problem));
        EXPECT_NE(problem.find(at.string() + " is a symbolic link"), std::string::npos) << problem;
        reader::WaitingText text{.id = uuid(5), .path = behind.string(), .modified = {}};
        results = Inbox(linked.root()).deliver({text}, openDelivery(out.path()));
        ASSERT_EQ(results.size(), 1u);
        EXPECT_EQ(results[0].outcome, Outcome::failed);
        fs::remove(at);
        fs::rename(at.string() + ".real", at);
        EXPECT_EQ(readFile(behind), "Behind a link");
    }

    // The records folder beside the import folder that is a file or a FIFO: named as what it
    // is, and the text stays.
    for (const bool fifo : {false, true}) {
        ImportFolder planted;
        const fs::path text = planted.add(uuid(6), "Stays");
        if (fifo)
            ASSERT_EQ(::mkfifo(planted.claims().c_str(), 0600), 0);
        else
            writeFile(planted.claims(), "not a folder");
        results = Inbox(planted.root()).deliver(planted.waiting(), openDelivery(out.path()));
        ASSERT_EQ(results.size(), 1u);
        EXPECT_EQ(results[0].outcome, Outcome::failed);
        EXPECT_NE(results[0].problem.find(
                      planted.claims().string() +
                      (fifo ? " is a FIFO, not a folder" : " is a file, not a folder")),
                  std::string::npos)
            << results[0].problem;
        EXPECT_EQ(readFile(text), "Stays");
    }
}

TEST(Inbox, DeliversByLinkNeverReplacingOrFollowingWhatIsInTheFolder) {
    ImportFolder folder;
    const fs::path text = folder.add(uuid(1), "Notes\nfirst", 3);
    folder.add(uuid(2), "Notes\nsecond", 2);
    folder.add(uuid(3), "Notes\nthird", 1);
    struct ::stat original {};
    ASSERT_EQ(::stat(text.c_str(), &original), 0);
    TemporaryFolder out;
    TemporaryFolder elsewhere;
    // "Notes.txt" is a dangling link, "Notes (2).txt" a FIFO: neither followed nor replaced.
    fs::create_symlink(elsewhere.path() / "target", out.path() / "Notes.txt");
    ASSERT_EQ(::mkfifo((out.path() / "Notes (2).txt").c_str(), 0600), 0);

    // The third changes after the listing: a file is named by what it holds when delivered.
    const auto listed = folder.waiting();
    writeFile(folder.folder() / uuid(3), "Renamed\nthird");
    auto results = Inbox(folder.root()).deliver(listed, openDelivery(out.path()));
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[0].deliveredTo, (out.path() / "Notes (3).txt").string());
    struct ::stat arrived {};
    ASSERT_EQ(::stat((out.path() / "Notes (3).txt").c_str(), &arrived), 0);
    EXPECT_EQ(arrived.st_atim.tv_sec, original.st_atim.tv_sec)
        << "listing and holding read the title without touching the text";
    EXPECT_EQ(readFile(out.path() / "Notes (3).txt"), "Notes\nfirst");
    EXPECT_EQ(readFile(out.path() / "Notes (4).txt"), "Notes\nsecond");
    EXPECT_EQ(readFile(out.path() / "Renamed.txt"), "Renamed\nthird");
    EXPECT_FALSE(fs::exists(elsewhere.path() / "target"));
    EXPECT_TRUE(fs::is_fifo(out.path() / "Notes (2).txt"));
    struct ::stat delivered {};
    ASSERT_EQ(::stat((out.path() / "Notes (3).txt").c_str(), &delivered), 0);
    EXPECT_EQ(delivered.st_ino, original.st_ino) << "the same file system costs no copy";
    EXPECT_TRUE(entries(folder.folder()).empty());
    EXPECT_TRUE(entries(folder.claims()).empty());
}

// Each state a reader killed half-way can leave, and the next reader finishing it: the text is
// in the folder exactly once and no longer waits.
TEST(Inbox, FinishesWhatAKilledReaderLeft) {
    struct State {
        const char* what;
        bool record, linked, recordTorn;
    };
    for (const State state : {State{"record synced, not linked", true, false, false},
                              State{"linked, text not yet removed", true, true, false},
                              State{"record cut short while written", true, false, true},
                              State{"nothing recorded", false, false, false}}) {
        SCOPED_TRACE(state.what);
        ImportFolder folder;
        const fs::path text = folder.add(uuid(7), "Speech\nFour score");
        TemporaryFolder out;
        struct ::stat file {
        }, dir{};
        ASSERT_EQ(::stat(text.c_str(), &file), 0);
        ASSERT_EQ(::stat(out.path().c_str(), &dir), 0);
        fs::create_directories(folder.claims());
        if (state.record) {
            std::string record = "quorvane delivery record 1\n" + std::to_string(dir.st_dev) + " " +
                                 std::to_string(dir.st_ino) + "\n" + std::to_string(file.st_dev) +
                                 " " + std::to_string(file.st_ino) + "\nSpeech.txt\n" + out.str();
            if (state.recordTorn)
                record.resize(20);
            writeFile(folder.claims() / uuid(7), record);
        }
        if (state.linked)
            fs::create_hard_link(text, out.path() / "Speech.txt");

        auto results = Inbox(folder.root()).deliver(folder.waiting(), openDelivery(out.path()));
        ASSERT_EQ(results.size(), 1u);
        EXPECT_EQ(results[0].outcome, Outcome::handedOver) << results[0].problem;
        EXPECT_EQ(entries(out.path()), std::vector<std::string>{"Speech.txt"});
        EXPECT_EQ(readFile(out.path() / "Speech.txt"), "Speech\nFour score");
        EXPECT_TRUE(entries(folder.folder()).empty());
        EXPECT_TRUE(entries(folder.claims()).empty());
    }

    // A consumer is never handed a text an earlier reader already delivered into a folder.
    ImportFolder folder;
    const fs::path text = folder.add(uuid(8), "Delivered");
    TemporaryFolder out;
    fs::create_hard_link(text, out.path() / "Delivered.txt");
    struct ::stat file {
    }, dir{};
    ::stat(text.c_str(), &file);
    ::stat(out.path().c_str(), &dir);
    fs::create_directories(folder.claims());
    writeFile(folder.claims() / uuid(8),
              "quorvane delivery record 1\n" + std::to_string(dir.st_dev) + " " +
                  std::to_string(dir.st_ino) + "\n" + std::to_string(file.st_dev) + " " +
                  std::to_string(file.st_ino) + "\nDelivered.txt\n" + out.str());
    bool consumed = false;
    const auto result = Inbox(folder.root()).take(folder.waiting().at(0), [&](const auto&) {
        consumed = true;
        return true;
    });
    EXPECT_EQ(result.outcome, Outcome::handedOver);
    EXPECT_EQ(result.deliveredTo, (out.path() / "Delivered.txt").string());
    EXPECT_FALSE(consumed);
    EXPECT_TRUE(entries(folder.folder()).empty());

    // Killed with a name set aside while removing it: the held file (the inode its name says)
    // was handed over and goes; anything else (a newer version, under the name of the held
    // file's inode) goes back to wait.
    writeFile(folder.claims() / "held", "Handed over");
    struct ::stat heldFile {};
    ASSERT_EQ(::stat((folder.claims() / "held").c_str(), &heldFile), 0);
    fs::rename(folder.claims() / "held",
               folder.claims() / (".taking-" + uuid(9) + "-" + std::to_string(heldFile.st_ino)));
    writeFile(folder.claims() / (".taking-" + uuid(10) + "-" + std::to_string(heldFile.st_ino)),
              "Newer");
    Inbox(folder.root()).tidy();
    EXPECT_TRUE(entries(folder.claims()).empty());
    EXPECT_EQ(entries(folder.folder()), std::vector<std::string>{uuid(10)});
    EXPECT_EQ(readFile(folder.folder() / uuid(10)), "Newer");

    // Killed on its way into a folder (moved aside, checked, not yet moved on): it was never
    // delivered, so it waits again, and a listing shows it; while its holder lives (the file
    // locked), it is left to that holder.
    fs::remove(folder.folder() / uuid(10));
    writeFile(folder.claims() / "moving", "On its way");
    ASSERT_EQ(::stat((folder.claims() / "moving").c_str(), &heldFile), 0);
    const fs::path moving =
        folder.claims() / (".moving-" + uuid(11) + "-" + std::to_string(heldFile.st_ino));
    fs::rename(folder.claims() / "moving", moving);
    {
        const int holder = ::open(moving.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(holder, 0);
        ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
        std::string problem;
        EXPECT_TRUE(Inbox(folder.root()).list(&problem)->texts.empty()) << problem;
        Inbox(folder.root()).tidy();
        EXPECT_TRUE(fs::exists(moving));
        ::close(holder);
    }
    std::string problem;
    const auto listing = Inbox(folder.root()).list(&problem);
    ASSERT_TRUE(listing) << problem;
    ASSERT_EQ(listing->texts.size(), 1u);
    EXPECT_EQ(listing->texts[0].id, uuid(11));
    EXPECT_EQ(listing->texts[0].title, "On its way");
    EXPECT_TRUE(entries(folder.claims()).empty());
}

TEST(Inbox, HeldTextsAreNotTakenTwiceAndDeclinedOnesStay) {
    ImportFolder folder;
    folder.add(uuid(1), "Held");
    const auto texts = folder.waiting();
    Inbox first(folder.root());
    Inbox second(folder.root());
    TemporaryFolder out;
    const auto result = first.take(texts[0], [&](const reader::HeldText& held) {
        // While the first holds it, neither a delivery nor another consumer gets it; both say
        // it is held elsewhere, to be looked at again when its holder may have let go.
        const auto delivered = second.deliver(texts, openDelivery(out.path()));
        EXPECT_EQ(delivered[0].outcome, Outcome::notWaiting);
        EXPECT_TRUE(delivered[0].heldElsewhere);
        const auto taken = second.take(texts[0], [](const auto&) { return true; });
        EXPECT_EQ(taken.outcome, Outcome::notWaiting);
        EXPECT_TRUE(taken.heldElsewhere);
        const int separate = held.openSeparately();
        EXPECT_GE(separate, 0);
        char bytes[8] = {};
        EXPECT_EQ(::read(separate, bytes, sizeof bytes), 4);
        ::close(separate);
        return false;
    });
    EXPECT_EQ(result.outcome, Outcome::kept);
    EXPECT_TRUE(entries(out.path()).empty());
    EXPECT_EQ(second.take(texts[0], [](const auto&) { return true; }).outcome, Outcome::handedOver);
    EXPECT_TRUE(entries(folder.folder()).empty());

    // A newer version renamed over the name while a consumer has the text (as folder-sync tools
    // replace files) is not removed with it: it waits, and nothing is left set aside.
    folder.add(uuid(2), "Older");
    const fs::path newer = folder.folder().parent_path() / "newer";
    writeFile(newer, "Newer");
    const auto replaced = first.take(folder.waiting().at(0), [&](const reader::HeldText& held) {
        fs::rename(newer, folder.folder() / uuid(2));
        char bytes[8] = {};
        return ::pread(held.descriptor, bytes, sizeof bytes, 0) == 5 &&
               bytes == std::string("Older");
    });
    EXPECT_EQ(replaced.outcome, Outcome::handedOver);
    EXPECT_EQ(readFile(folder.folder() / uuid(2)), "Newer");
    EXPECT_TRUE(entries(folder.claims()).empty());
}

// Readers and senders at once, in threads (holds are per open file, so they exclude each other
// within one process as between processes): every text lands once, byte-exact.
TEST(Inbox, ConcurrentReadersDeliverEachTextOnce) {
    ImportFolder folder;
    const fs::path staging = folder.folder().parent_path() / "test-staging";
    fs::create_directories(staging);
    TemporaryFolder out;
    constexpr int kSenders = 3, kTexts = 60, kReaders = 4;
    // A backlog of more than two batches waits before the readers start (each reader holds the
    // next batch while it delivers one), and every other reader lists without titles.
    const int backlog = 2 * static_cast<int>(Inbox::kMaxBatch) + 300;
    for (int n = 0; n < backlog; ++n)
        folder.add(uuid(100000 + n), "Backlog " + std::to_string(n) + "\nwaiting", backlog - n);
    std::atomic<int> sent{0};
    std::atomic<bool> sending{true};
    auto body = [](int sender, int n) {
        return "Text " + std::to_string(sender) + "-" + std::to_string(n) + "\n" +
               std::string(static_cast<std::size_t>(n * 37 % 5000), 'x');
    };
    std::vector<std::thread> threads;
    for (int sender = 0; sender < kSenders; ++sender) {
        threads.emplace_back([&, sender] {
            for (int n = 0; n < kTexts; ++n) {
                const std::string id = uuid(1000 * (sender + 1) + n);
                writeFile(staging / id, body(sender, n));
                fs::create_hard_link(staging / id, folder.folder() / id);
                fs::remove(staging / id);
                ++sent;
            }
        });
    }
    std::vector<std::thread> readers;
    for (int r = 0; r < kReaders; ++r) {
        readers.emplace_back([&, r] {
            Inbox inbox(folder.root());
            const auto target = openDelivery(out.path());
            for (;;) {
                const bool last = !sending.load();
                std::string problem;
                auto listing =
                    inbox.list(&problem, r % 2 ? reader::Titles::leftOut : reader::Titles::read);
                ASSERT_TRUE(listing) << problem;
                for (const auto& result : inbox.deliver(listing->texts, target))
                    EXPECT_NE(result.outcome, Outcome::failed) << result.problem;
                if (last)
                    break;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    sending = false;
    for (auto& thread : readers)
        thread.join();
    const auto delivered = entries(out.path());
    ASSERT_EQ(delivered.size(), std::size_t{kSenders * kTexts + backlog});
    for (int n = 0; n < backlog; ++n) {
        const std::string name = "Backlog " + std::to_string(n) + ".txt";
        EXPECT_EQ(readFile(out.path() / name), "Backlog " + std::to_string(n) + "\nwaiting");
    }
    for (int sender = 0; sender < kSenders; ++sender) {
        for (int n = 0; n < kTexts; ++n) {
            const std::string name =
                "Text " + std::to_string(sender) + "-" + std::to_string(n) + ".txt";
            EXPECT_EQ(readFile(out.path() / name), body(sender, n)) << name;
        }
    }
    EXPECT_TRUE(entries(folder.folder()).empty());
    EXPECT_TRUE(entries(folder.claims()).empty());
}

TEST(Inbox, CopiesAcrossFileSystemsAndKeepsTheTextWhenTheFolderIsFull) {
    if (!fs::is_directory("/dev/shm"))
        GTEST_SKIP() << "no /dev/shm to stand for another file system";
    ImportFolder folder;
    const std::string big(3 * 1024 * 1024 + 17, 'b');
    folder.add(uuid(1), "Big\n" + big, 5);
    TemporaryFolder shmBase;  // only for a unique name
    const fs::path out = fs::path("/dev/shm") / shmBase.path().filename();
    struct Cleanup {
        fs::path path;
        ~Cleanup() { fs::remove_all(path); }
    } cleanup{out};
    const auto waiting = folder.waiting();
    auto results = Inbox(folder.root()).deliver(waiting, openDelivery(out));
    ASSERT_EQ(results.at(0).outcome, Outcome::handedOver) << results[0].problem;
    EXPECT_EQ(readFile(out / "Big.txt"), "Big\n" + big);
    struct ::stat copy {};
    ASSERT_EQ(::stat((out / "Big.txt").c_str(), &copy), 0);
    EXPECT_EQ(copy.st_mtim.tv_sec, waiting[0].modified.tv_sec);
    EXPECT_EQ(copy.st_mode & 07777, 0600u);
    EXPECT_TRUE(entries(folder.folder()).empty());

    // A full folder on another file system: the text stays waiting, nothing is left behind.
    ImportFolder full;
    full.add(uuid(2), "Too big\n" + big);
    const auto outcome = testing_support::runInPrivateMountNamespace([&] {
        const fs::path small = fs::path(full.root()) / "small";
        fs::create_directories(small);
        const std::string error = testing_support::mountFileSystem("tmpfs", small, "size=1m");
        if (!error.empty())
            return testing_support::Outcome::skipped("cannot mount a small RAM disk: " + error);
        auto results = Inbox(full.root()).deliver(full.waiting(), openDelivery(small));
        if (results.size() != 1 || results[0].outcome != Outcome::failed)
            return testing_support::Outcome::failed("a full folder was not a failure");
        if (results[0].problem.find("No space") == std::string::npos)
            return testing_support::Outcome::failed("reason: " + results[0].problem);
        if (!entries(small).empty())
            return testing_support::Outcome::failed("something was left in the full folder");
        return testing_support::Outcome::passed();
    });
    if (outcome.status == testing_support::Outcome::Status::skipped)
        GTEST_SKIP() << outcome.message;
    EXPECT_EQ(outcome.status, testing_support::Outcome::Status::passed) << outcome.message;
    EXPECT_EQ(full.waiting().size(), 1u);
}

TEST(FolderWatch, WakesWhenTheFolderAppearsAndWhenATextLands) {
    TemporaryFolder base;
    const std::string root = (base.path() / "not-yet").string();
    const std::string imported = handover::importFolderPath(root);
    reader::FolderWatch watch(imported);
    std::string problem;
    ASSERT_TRUE(watch.arm(&problem)) << problem;
    // Arming again changes nothing and wakes nothing: a watcher never spins on its own watches.
    ASSERT_TRUE(watch.arm(&problem)) << problem;
    EXPECT_FALSE(watch.wait(200, -1));
    // Nothing of the container exists: its nearest parent is watched.
    fs::create_directories(imported);
    EXPECT_TRUE(watch.wait(10000, -1));
    ASSERT_TRUE(watch.arm(&problem)) << problem;
    EXPECT_FALSE(watch.wait(200, -1)) << "moving down to the folder is no news";
    writeFile(fs::path(imported) / uuid(1), "landed");
    EXPECT_TRUE(watch.wait(10000, -1));
    // Removed and made again: still followed.
    fs::remove_all(imported);
    EXPECT_TRUE(watch.wait(10000, -1));
    ASSERT_TRUE(watch.arm(&problem)) << problem;
    fs::create_directories(imported);
    EXPECT_TRUE(watch.wait(10000, -1));
    ASSERT_TRUE(watch.arm(&problem)) << problem;
    writeFile(fs::path(imported) / uuid(2), "landed again");
    EXPECT_TRUE(watch.wait(10000, -1));
}

}  // namespace
