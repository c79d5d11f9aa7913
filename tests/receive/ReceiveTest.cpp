// quorvane-receive end to end, as people and scripts run it: each mode, its statuses, hostile
// folders on both sides, --watch through signals and a vanishing folder, and many receivers and
// senders at once.
#include <signal.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>

#include <atomic>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "support/MountNamespace.h"

#include "receive/ReceiveFixture.h"

namespace receive_test {
namespace {

using testing_support::ProcessResult;

// Runs the receiver with standard output on `out`, or closed when `out` is -1 (standard error
// discarded).
int runWithOutput(const std::vector<std::string>& arguments, const std::string& root, int out) {
    std::vector<std::string> argv{QUORVANE_RECEIVE};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> pointers;
    for (auto& argument : argv)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("QUORVANE_CONTAINER_ROOT", root.c_str(), 1);
        if (out < 0)
            ::close(STDOUT_FILENO);
        else
            ::dup2(out, STDOUT_FILENO);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, STDERR_FILENO);
        ::execv(QUORVANE_RECEIVE, pointers.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(ReceiveTest, ModesStatusesAndUsage) {
    // Bad usage: status 2, nothing taken.
    send(root(), "Kept");
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{},
                                               {"--watch"},
                                               {"--to"},
                                               {"--to", ""},
                                               {"--exec", " \t\n"},
                                               {"--to", "a", "--print"},
                                               {"--list", "--watch"},
                                               {"--to", "a", "--json"},
                                               {"--list", "-0"},
                                               {"--print", "--json", "-0"},
                                               {"--print=yes"},
                                               {"--bogus"},
                                               {"stray"}}) {
        const ProcessResult result = receive(arguments);
        EXPECT_EQ(result.exitStatus, 2) << testing::PrintToString(arguments) << result.err;
        EXPECT_NE(result.err.find("--help"), std::string::npos);
    }
    EXPECT_EQ(countEntries(imported()), 1u);
    // Help names every variable read.
    const ProcessResult help = receive({"--help"});
    EXPECT_EQ(help.exitStatus, 0);
    for (const char* variable : {"QUORVANE_CONTAINER_ROOT", "XDG_DATA_HOME", "HOME", "PATH"})
        EXPECT_NE(help.out.find(variable), std::string::npos) << variable;
    // No data folder at all: status 3.
    auto bare = options();
    bare.environment.erase("QUORVANE_CONTAINER_ROOT");
    bare.unset = {"QUORVANE_CONTAINER_ROOT", "XDG_DATA_HOME", "HOME"};
    EXPECT_EQ(testing_support::runProcess(QUORVANE_RECEIVE, {"--list"}, bare).exitStatus, 3);

    // --print: raw, -0 and JSON lines, oldest first; each removed once written.
    fs::remove_all(imported());
    const std::string texts[] = {"First\nbody \"quoted\"\t\x01", "", "Third \xC3\xA9"};
    std::vector<std::string> ids;
    for (const auto& text : texts) {
        ids.push_back(send(root(), text));
        const struct timespec times[2] = {{1767225600 + static_cast<long>(ids.size()), 0},
                                          {1767225600 + static_cast<long>(ids.size()), 0}};
        ::utimensat(AT_FDCWD, (imported() / ids.back()).c_str(), times, 0);
    }
    const ProcessResult listed = receive({"--list"});
    EXPECT_EQ(listed.exitStatus, 0);
    std::istringstream lines(listed.out);
    std::string line;
    for (std::size_t i = 0; std::getline(lines, line); ++i) {
        ASSERT_LT(i, 3u);
        EXPECT_TRUE(line.starts_with(ids[i] + "\t")) << line;
        EXPECT_TRUE(line.ends_with("\t" + std::to_string(texts[i].size()) + "\t" +
                                   (i == 0   ? "First"
                                    : i == 1 ? ""
                                             : "Third \xC3\xA9")))
            << line;
    }
    const ProcessResult json = receive({"--print", "--json"});
    EXPECT_EQ(json.exitStatus, 0) << json.err;
    std::istringstream objects(json.out);
    for (std::size_t i = 0; std::getline(objects, line); ++i) {
        const auto object = nlohmann::json::parse(line);
        EXPECT_EQ(object["id"], ids[i]);
        EXPECT_EQ(object["text"], texts[i]);
        EXPECT_EQ(object["bytes"], texts[i].size());
        EXPECT_EQ(object["time"], "2026-01-01T00:00:0" + std::to_string(i + 1) + ".000Z");
    }
    EXPECT_EQ(countEntries(imported()), 0u);
    for (const auto& text : texts)
        send(root(), text);
    const ProcessResult nul = receive({"--print", "-0"});
    EXPECT_EQ(nul.exitStatus, 0);
    EXPECT_EQ(nul.out.size(), texts[0].size() + texts[1].size() + texts[2].size() + 3);
    EXPECT_EQ(std::count(nul.out.begin(), nul.out.end(), '\0'), 3);

    // --to prints the new files' paths; an empty folder hands over nothing, with status 0.
    send(root(), "Delivered\nhere");
    const ProcessResult to = receive({"--to", (scratch() / "out").string()});
    EXPECT_EQ(to.exitStatus, 0) << to.err;
    EXPECT_EQ(to.out, (scratch() / "out" / "Delivered.txt").string() + "\n");
    for (const char* mode : {"--print", "--list"})
        EXPECT_EQ(receive({mode}).exitStatus, 0) << mode;
}

// A command that fails, one killed by a signal, then one that succeeds: the text is offered
// each time with the same id, on standard input and as $1, and removed only by the success.
TEST_F(ReceiveTest, ExecRemovesOnlyWhatTheCommandTook) {
    const std::string text = "Opening\nWelcome back.";
    const std::string id = send(root(), text);
    const fs::path log = scratch() / "log";
    const std::string record =
        "printf '%s|%s|' \"$QUORVANE_TEXT_ID\" \"$QUORVANE_TEXT_TITLE\" >> " + log.string() +
        "; cat >> " + log.string() + "; printf '|' >> " + log.string() + "; cat \"$1\" >> " +
        log.string() + "; echo >> " + log.string() + "; ";
    const ProcessResult failed = receive({"--exec", record + "exit 3"});
    EXPECT_EQ(failed.exitStatus, 3);
    EXPECT_NE(failed.err.find(id), std::string::npos) << failed.err;
    EXPECT_NE(failed.err.find("status 3"), std::string::npos) << failed.err;
    const ProcessResult killed = receive({"--exec", record + "kill -KILL $$"});
    EXPECT_EQ(killed.exitStatus, 3);
    EXPECT_NE(killed.err.find("SIGKILL"), std::string::npos) << killed.err;
    EXPECT_EQ(countEntries(imported()), 1u);
    const ProcessResult took = receive({"--exec", record + "true"});
    EXPECT_EQ(took.exitStatus, 0) << took.err;
    EXPECT_EQ(countEntries(imported()), 0u);
    const std::string once = id + "|Opening|" + text + "|" + text + "\n";
    EXPECT_EQ(readFile(log), once + once + once);

    // With standard output closed (a service's), each text still goes to its command; the
    // title a command is given never carries control characters (a terminal's escapes).
    const fs::path titles = scratch() / "titles";
    // (A right-to-left mark stays: the command decides how to show a right-to-left title.)
    for (const char* sent :
         {"\x1b]0;owned\x07\x1b[31mRed alert\xc2\x9b\nbody", "Second\xe2\x80\x8f", "Third"})
        send(root(), sent);
    EXPECT_EQ(
        runWithOutput({"--exec", "printf '%s|' \"$QUORVANE_TEXT_TITLE\" >> " + titles.string()},
                      root(), -1),
        0);
    EXPECT_EQ(countEntries(imported()), 0u);
    const std::string shownTitles = readFile(titles);
    EXPECT_EQ(std::count(shownTitles.begin(), shownTitles.end(), '|'), 3) << shownTitles;
    for (const char c : shownTitles)
        EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == 0x7f) << shownTitles;
    EXPECT_NE(shownTitles.find("Red alert"), std::string::npos) << shownTitles;
    EXPECT_NE(shownTitles.find("Second\xe2\x80\x8f|"), std::string::npos) << shownTitles;
}

TEST_F(ReceiveTest, PrintKeepsTheTextWhenOutputFails) {
    send(root(), "Not lost\none");
    send(root(), "Not lost\ntwo");
    const int full = ::open("/dev/full", O_WRONLY);
    if (full < 0)
        GTEST_SKIP() << "no /dev/full";
    EXPECT_EQ(runWithOutput({"--print"}, root(), full), 6);
    EXPECT_EQ(runWithOutput({"--print", "--json"}, root(), full), 6);
    ::close(full);
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    ::close(pipe[0]);  // the reader is gone before anything is written
    EXPECT_EQ(runWithOutput({"--print", "-0"}, root(), pipe[1]), 6);
    ::close(pipe[1]);
    EXPECT_EQ(countEntries(imported()), 2u);
}

// What is not a text is never taken, followed or changed, by any mode; what is in the
// delivery folder is never replaced or followed.
TEST_F(ReceiveTest, HostileFoldersAreLeftAlone) {
    const std::string real = send(root(), "Real\ntext");
    const fs::path in = imported();
    const fs::path secret = scratch() / "secret";
    writeFile(secret, "Secret\nnot sent");
    std::vector<std::string> planted = {freshId(),
                                        freshId(),
                                        freshId(),
                                        "lower-case",
                                        ".syncthing." + real + ".tmp",
                                        real + ".sync-conflict-20260101-000000-ABCDEFG",
                                        "DAD5E5C1-6D0A-45C5-BF5A-a17800e7a647"};
    fs::create_symlink(secret, in / planted[0]);
    ASSERT_EQ(::mkfifo((in / planted[1]).c_str(), 0600), 0);
    fs::create_directory(in / planted[2]);
    for (std::size_t i = 3; i < planted.size(); ++i)
        writeFile(in / planted[i], "Odd\nname");
    if (::geteuid() == 0) {
        // Only root can make devices and other users' files.
        planted.push_back(freshId());
        ASSERT_EQ(::mknod((in / planted.back()).c_str(), S_IFCHR | 0600, makedev(1, 3)), 0);
        planted.push_back(freshId());
        writeFile(in / planted.back(), "Foreign\ntext");
        ASSERT_EQ(::chown((in / planted.back()).c_str(), 65534, 65534), 0);
    }
    auto snapshot = [&] {
        std::map<std::string, std::string> state;
        for (const auto& entry : fs::directory_iterator(in)) {
            struct ::stat status {};
            ::lstat(entry.path().c_str(), &status);
            state[entry.path().filename().string()] = std::to_string(status.st_ino) + ":" +
                                                      std::to_string(status.st_mode) + ":" +
                                                      std::to_string(status.st_mtim.tv_nsec);
        }
        return state;
    };
    auto before = snapshot();
    before.erase(real);

    const ProcessResult listed = receive({"--list"});
    EXPECT_EQ(listed.exitStatus, 0);
    for (const auto& name : planted)
        EXPECT_NE(listed.err.find(name), std::string::npos) << name;
    EXPECT_NE(listed.err.find("symbolic link"), std::string::npos);
    EXPECT_NE(listed.err.find("FIFO"), std::string::npos);
    EXPECT_NE(listed.err.find("sync tool"), std::string::npos);

    // Hostile delivery folder: a link and a FIFO at the names the text would take.
    const fs::path out = scratch() / "out";
    fs::create_directories(out);
    fs::create_symlink(scratch() / "elsewhere", out / "Real.txt");
    ASSERT_EQ(::mkfifo((out / "Real (2).txt").c_str(), 0600), 0);
    const ProcessResult delivered = receive({"--to", out.string()});
    EXPECT_EQ(delivered.exitStatus, 0) << delivered.err;
    EXPECT_EQ(readFile(out / "Real (3).txt"), "Real\ntext");
    EXPECT_FALSE(fs::exists(scratch() / "elsewhere"));
    EXPECT_TRUE(fs::is_fifo(out / "Real (2).txt"));
    for (const auto& mode : std::vector<std::vector<std::string>>{
             {"--print"}, {"--exec", "cat >/dev/null"}, {"--to", out.string()}})
        EXPECT_EQ(receive(mode).exitStatus, 0);
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(readFile(secret), "Secret\nnot sent");
    EXPECT_EQ(countEntries(out), 3u);

    // A delivery folder that cannot be: a file, or the import folder itself. Status 3, and
    // the text stays waiting.
    send(root(), "Stays");
    writeFile(scratch() / "a-file", "");
    for (const fs::path& target : {scratch() / "a-file", in, in / planted[2]}) {
        const ProcessResult refused = receive({"--to", target.string()});
        EXPECT_EQ(refused.exitStatus, 3) << target;
        EXPECT_NE(refused.err.find("waiting"), std::string::npos) << refused.err;
    }
    EXPECT_EQ(snapshot().size(), before.size() + 1);
    EXPECT_TRUE(fs::is_empty(in / planted[2]));
}

TEST_F(ReceiveTest, WatchFollowsTheFolderAndEndsCleanlyOnSigterm) {
    // The container does not exist yet when the receiver starts.
    const fs::path out = scratch() / "out";
    const pid_t watcher = start({"--watch", "--to", out.string()});
    // Made, then removed with everything in it, then made again: each text arrives.
    for (int round = 0; round < 3; ++round) {
        send(root(), "Round " + std::to_string(round));
        EXPECT_TRUE(eventually([&] { return countEntries(out) == std::size_t(round + 1); }))
            << "round " << round;
        fs::remove_all(fs::path(root()) / "group.app.quorvane.teleprompter");
    }
    ::kill(watcher, SIGTERM);
    EXPECT_EQ(testing_support::waitProcess(watcher).exitStatus, 0);
    EXPECT_EQ(contentsOf(out),
              (std::map<std::string, int>{{"Round 0", 1}, {"Round 1", 1}, {"Round 2", 1}}));

    // SIGTERM while a command has a text: the hand-over finishes, the rest stay waiting.
    const std::string first = send(root(), "First");
    const fs::path started = scratch() / "started";
    const fs::path go = scratch() / "go";
    const fs::path taken = scratch() / "taken";
    fs::create_directories(taken);
    const pid_t consumer =
        start({"--watch", "--exec",
               "touch " + started.string() + "; while [ ! -e " + go.string() +
                   " ]; do sleep 0.01; done; cat > " + taken.string() + "/\"$QUORVANE_TEXT_ID\""});
    ASSERT_TRUE(eventually([&] { return fs::exists(started); }));
    const std::string second = send(root(), "Second");
    ::kill(consumer, SIGTERM);
    writeFile(go, "");
    EXPECT_EQ(testing_support::waitProcess(consumer).exitStatus, 0);
    EXPECT_EQ(readFile(taken / first), "First");
    EXPECT_EQ(countEntries(taken), 1u);
    EXPECT_TRUE(fs::exists(imported() / second));
    EXPECT_FALSE(fs::exists(imported() / first));
}

// Four receivers watching one folder while eight senders send a hundred texts each: every
// text lands once, byte-exact.
TEST_F(ReceiveTest, ConcurrentReceiversAndSendersDeliverEachTextOnce) {
    const fs::path out = scratch() / "out";
    constexpr int kReceivers = 4, kSenders = 8, kTexts = 100;
    std::vector<pid_t> receivers;
    for (int i = 0; i < kReceivers; ++i)
        receivers.push_back(start({"--watch", "--to", out.string()}));
    auto textOf = [](int sender, int n) {
        // Titles repeat across senders, so receivers race for the same names.
        return "Take " + std::to_string(n % 7) + "\n" + std::to_string(sender) + "/" +
               std::to_string(n) + std::string(static_cast<std::size_t>(n * 31 % 3000), '.');
    };
    std::vector<std::thread> senders;
    for (int sender = 0; sender < kSenders; ++sender)
        senders.emplace_back([&, sender] {
            for (int n = 0; n < kTexts; ++n)
                send(root(), textOf(sender, n));
        });
    for (auto& thread : senders)
        thread.join();
    EXPECT_TRUE(eventually([&] { return countEntries(out) >= kSenders * kTexts; }));
    EXPECT_TRUE(eventually([&] { return countEntries(imported()) == 0; }));
    for (const pid_t receiver : receivers) {
        ::kill(receiver, SIGTERM);
        EXPECT_EQ(testing_support::waitProcess(receiver).exitStatus, 0);
    }
    std::map<std::string, int> expected;
    for (int sender = 0; sender < kSenders; ++sender)
        for (int n = 0; n < kTexts; ++n)
            expected[textOf(sender, n)] = 1;
    EXPECT_EQ(contentsOf(out), expected);
    EXPECT_EQ(countEntries(imported().parent_path() / ".imported-claims"), 0u);
}

// Between the hold and the hand-over, a newer version, a link, a FIFO or another user's file is
// renamed over the text's name (right after the lock, by a preloaded library): whatever the
// mode, only the file held is handed over, and what was put at the name waits there untouched.
// A receiver killed right after its first move leaves nothing of it in the folder either; the
// next one puts what it moved back and takes it as what now waits.
TEST_F(ReceiveTest, WhatIsHandedOverIsTheFileHeldNeverWhatWasRenamedOverItsName) {
    const fs::path staging = imported().parent_path() / "staging";  // the import folder's disk
    const fs::path secret = scratch() / "secret";
    writeFile(secret, "Secret\nnot sent");
    const fs::path log = scratch() / "log";
    const fs::path shm = fs::path("/dev/shm") / scratch().filename();
    struct Cleanup {
        fs::path path;
        ~Cleanup() { fs::remove_all(path); }
    } cleanup{shm};
    struct Mode {
        std::string what;
        std::vector<std::string> arguments;
        fs::path folder;       // where --to delivers (empty: --exec, --print)
        bool takesTheHeldOne;  // false: it finds the name replaced and gives that round up
        const char* swapAt;    // right after the hold ("flock"), or while it reads ("pread")
        bool killedAfterMove = false;  // SIGKILLed right after its first rename, then run again
    };
    std::vector<Mode> modes = {{"--to, one file system",
                                {"--to", (scratch() / "out").string()},
                                scratch() / "out",
                                false,
                                "flock"},
                               {"--to, one file system, killed after the first move",
                                {"--to", (scratch() / "out").string()},
                                scratch() / "out",
                                false,
                                "flock",
                                true},
                               {"--exec", {"--exec", "cat >> " + log.string()}, {}, false, "flock"},
                               {"--print, replaced while printed", {"--print"}, {}, true, "pread"}};
    if (fs::is_directory("/dev/shm"))
        modes.push_back({"--to, another file system (copied)",
                         {"--to", (shm / "out").string()},
                         shm / "out",
                         false,
                         "flock"});
    std::vector<std::string> kinds = {"a newer version", "a link", "a FIFO"};
    if (::geteuid() == 0)
        kinds.push_back("another user's file");
    const std::string held = "Held\nthe version that was held";
    for (const Mode& mode : modes) {
        for (const std::string& kind : kinds) {
            SCOPED_TRACE(mode.what + ", " + kind);
            fs::remove_all(imported());
            fs::create_directories(staging);
            fs::remove(log);
            const std::string id = send(root(), held);
            const fs::path swap = staging / "swap";
            if (kind == "a link")
                fs::create_symlink(secret, swap);
            else if (kind == "a FIFO")
                ASSERT_EQ(::mkfifo(swap.c_str(), 0600), 0);
            else
                writeFile(swap, "Newer\nversion");
            if (kind == "another user's file") {
                ASSERT_EQ(::chown(swap.c_str(), 65534, 65534), 0);
            }
            auto swapping = testing_support::preloading(options(), QUORVANE_SWAP_AFTER_HOLD);
            swapping.environment["QUORVANE_SWAP_FROM"] = swap.string();
            swapping.environment["QUORVANE_SWAP_TO"] = (imported() / id).string();
            swapping.environment["QUORVANE_SWAP_AT"] = mode.swapAt;
            if (mode.killedAfterMove)
                swapping.environment["QUORVANE_SWAP_KILL"] = "after-move";
            ProcessResult result =
                testing_support::runProcess(QUORVANE_RECEIVE, mode.arguments, swapping);
            ASSERT_FALSE(fs::exists(swap)) << "the preloaded library did not swap";
            if (mode.killedAfterMove) {
                ASSERT_EQ(result.signal, SIGKILL) << result.err;
                fs::create_directories(mode.folder);
                for (const auto& entry : fs::directory_iterator(mode.folder))
                    ADD_FAILURE() << "left in the folder by the killed receiver: " << entry.path();
                result = testing_support::runProcess(QUORVANE_RECEIVE, mode.arguments, options());
            }
            EXPECT_EQ(result.exitStatus, 0) << result.err;
            // A newer version put back by the second receiver is a text of its own: it delivers it.
            const bool newerDelivered = mode.killedAfterMove && kind == "a newer version";

            // Only the held file was handed over.
            const std::map<std::string, int> handedOver =
                mode.takesTheHeldOne ? std::map<std::string, int>{{held, 1}}
                : newerDelivered     ? std::map<std::string, int>{{"Newer\nversion", 1}}
                                     : std::map<std::string, int>{};
            if (!mode.folder.empty()) {
                bool onlyFiles = true;  // a FIFO there would block the reading below
                for (const auto& entry : fs::directory_iterator(mode.folder))
                    onlyFiles = onlyFiles && fs::is_regular_file(fs::symlink_status(entry.path()));
                EXPECT_TRUE(onlyFiles) << "a link, FIFO or folder reached " << mode.folder;
                if (onlyFiles) {
                    EXPECT_EQ(contentsOf(mode.folder), handedOver);
                }
                fs::remove_all(mode.folder);
            } else {
                EXPECT_EQ(mode.arguments[0] == "--print" ? result.out : readFile(log),
                          mode.takesTheHeldOne ? held : "");
            }
            // What was renamed over the name waits there, as it was.
            const fs::path name = imported() / id;
            if (kind == "a link")
                EXPECT_TRUE(fs::is_symlink(name));
            else if (kind == "a FIFO")
                EXPECT_TRUE(fs::is_fifo(fs::symlink_status(name)));
            else if (!newerDelivered) {
                EXPECT_EQ(readFile(name), "Newer\nversion");
            }
            EXPECT_EQ(countEntries(imported()), newerDelivered ? 0u : 1u);
            EXPECT_EQ(countEntries(imported().parent_path() / ".imported-claims"), 0u);
        }
    }
    EXPECT_EQ(readFile(secret), "Secret\nnot sent");
}

// A text that is there but cannot be opened (mode 000; as root, with the right to override
// modes dropped) is a failure in every mode: named with the reason, listed among what waits,
// status 3, and retried under --watch until it can be taken, with nothing else happening.
TEST_F(ReceiveTest, ATextThatCannotBeOpenedIsAFailureListedAndRetried) {
    std::string program = QUORVANE_RECEIVE;
    std::vector<std::string> prefix;
    if (::geteuid() == 0) {
        program = testing_support::findProgram("setpriv");
        if (program.empty())
            GTEST_SKIP() << "as root, needs setpriv (util-linux) to give up overriding modes";
        prefix = {"--bounding-set=-dac_override,-dac_read_search", "--", QUORVANE_RECEIVE};
    }
    auto run = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), prefix.begin(), prefix.end());
        return testing_support::runProcess(program, arguments, options());
    };
    const std::string readable = send(root(), "Readable");
    const std::string locked = send(root(), "Locked\ntext");
    ASSERT_EQ(::chmod((imported() / locked).c_str(), 0), 0);

    const ProcessResult listed = run({"--list"});
    EXPECT_EQ(listed.exitStatus, 3);
    EXPECT_NE(listed.out.find(locked + "\t"), std::string::npos) << listed.out;
    EXPECT_NE(listed.err.find(locked), std::string::npos) << listed.err;
    EXPECT_NE(listed.err.find("Permission denied"), std::string::npos) << listed.err;
    const ProcessResult json = run({"--list", "--json"});
    EXPECT_EQ(json.exitStatus, 3);
    std::istringstream lines(json.out);
    std::string line;
    int problems = 0;
    while (std::getline(lines, line))
        if (const auto object = nlohmann::json::parse(line); object.contains("problem")) {
            EXPECT_EQ(object["id"], locked);
            ++problems;
        }
    EXPECT_EQ(problems, 1);

    const fs::path out = scratch() / "out";
    for (const std::vector<std::string>& mode : std::vector<std::vector<std::string>>{
             {"--to", out.string()}, {"--exec", "cat >/dev/null"}, {"--print"}}) {
        const ProcessResult result = run(mode);
        EXPECT_EQ(result.exitStatus, 3) << mode[0] << result.err;
        EXPECT_NE(result.err.find(locked), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("Permission denied"), std::string::npos) << result.err;
        EXPECT_TRUE(fs::exists(imported() / locked));
    }
    EXPECT_EQ(contentsOf(out), (std::map<std::string, int>{{"Readable", 1}}));
    EXPECT_FALSE(fs::exists(imported() / readable));

    // Watching: once it can be opened (a change of mode wakes nothing), it is taken.
    std::vector<std::string> watchArguments = prefix;
    for (const std::string argument : {"--watch", "--to", out.c_str()})
        watchArguments.push_back(argument);
    const pid_t watcher = testing_support::startProcess(program, watchArguments, options());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(::chmod((imported() / locked).c_str(), 0600), 0);
    EXPECT_TRUE(eventually([&] { return countEntries(out) == 2; }));
    ::kill(watcher, SIGTERM);
    EXPECT_EQ(testing_support::waitProcess(watcher).exitStatus, 0);
    EXPECT_EQ(contentsOf(out), (std::map<std::string, int>{{"Readable", 1}, {"Locked\ntext", 1}}));

    // The same for the import folder itself: while it cannot be read, nothing can be listed;
    // once it can (again a change of mode, which wakes nothing), what waits there is taken.
    send(root(), "Behind\na locked folder");
    ASSERT_EQ(::chmod(imported().c_str(), 0), 0);
    const pid_t folderWatcher = testing_support::startProcess(program, watchArguments, options());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(::chmod(imported().c_str(), 0700), 0);
    EXPECT_TRUE(eventually([&] { return countEntries(out) == 3; }));
    ::kill(folderWatcher, SIGTERM);
    const ProcessResult folderWatched = testing_support::waitProcess(folderWatcher);
    EXPECT_EQ(folderWatched.exitStatus, 0);
    EXPECT_EQ(contentsOf(out)["Behind\na locked folder"], 1);

    // Too few descriptors (ulimit -n) to hold the texts: whatever is not handed over is a
    // failure named with its reason, never status 0 with texts left waiting.
    for (int limit = 6; limit <= 12; ++limit) {
        SCOPED_TRACE("ulimit -n " + std::to_string(limit));
        for (int n = 0; n < 20; ++n)
            send(root(), "Many " + std::to_string(n));
        const fs::path many = scratch() / ("many-" + std::to_string(limit));
        for (const std::vector<std::string>& mode : std::vector<std::vector<std::string>>{
                 {"--to", many.string()}, {"--exec", "cat >/dev/null"}}) {
            const std::size_t before = countEntries(imported());
            const ProcessResult result = testing_support::runProcess(
                "/bin/sh",
                {"-c", "ulimit -n " + std::to_string(limit) + " && exec \"$0\" \"$@\"",
                 QUORVANE_RECEIVE, mode[0], mode[1]},
                options());
            const std::size_t left = countEntries(imported());
            // (A sanitizer's runtime may itself fail first under so tight a limit: any status
            // but 0 then.)
            if (left == 0) {
                EXPECT_EQ(result.exitStatus, 0) << mode[0] << result.err;
            } else {
                EXPECT_NE(result.exitStatus, 0) << mode[0] << ": " << left << " left";
            }
            if (result.exitStatus == 3) {
                EXPECT_NE(result.err.find("Too many open files"), std::string::npos) << result.err;
            }
            if (mode[0] == "--to") {
                EXPECT_EQ(countEntries(many), before - left);
            }
        }
        fs::remove_all(imported());
    }
}

// A receiver holds a text while its command runs, is stopped (SIGSTOP), then killed: nothing
// lands in the folder to say so, yet the watching receiver takes the text.
TEST_F(ReceiveTest, ATextLetGoByAStoppedThenKilledHolderIsTakenByTheWatcher) {
    const std::string text = "Stranded?\nnot for long";
    send(root(), text);
    const fs::path pidFile = scratch() / "command-pid";
    const pid_t holder =
        start({"--exec", "echo $$ > " + pidFile.string() + ".new && mv " + pidFile.string() +
                             ".new " + pidFile.string() + " && exec sleep 60"});
    ASSERT_TRUE(eventually([&] { return fs::exists(pidFile); }));
    const fs::path out = scratch() / "out";
    const pid_t watcher = start({"--watch", "--to", out.string()});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // it passes over the held text
    EXPECT_EQ(countEntries(out), 0u);
    ::kill(holder, SIGSTOP);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::kill(holder, SIGKILL);
    testing_support::waitProcess(holder);
    ::kill(std::stoi(readFile(pidFile)), SIGKILL);
    EXPECT_TRUE(eventually([&] { return countEntries(out) == 1; }));
    ::kill(watcher, SIGTERM);
    EXPECT_EQ(testing_support::waitProcess(watcher).exitStatus, 0);
    EXPECT_EQ(contentsOf(out), (std::map<std::string, int>{{text, 1}}));
}

std::string fromBase64(const std::string& text) {
    static const std::string digits =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string bytes;
    std::uint32_t group = 0;
    int bits = 0;
    for (const char c : text) {
        if (c == '=')
            break;
        group = group << 6 | static_cast<std::uint32_t>(digits.find(c));
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes += static_cast<char>((group >> bits) & 0xFF);
        }
    }
    return bytes;
}

// What --print writes reads back to each text's bytes exactly: -0 never splits a text (one
// holding a NUL is refused and waits), JSON carries any bytes ({"base64": ...} when not UTF-8)
// with `bytes` the file's size; --list --json writes a path that is not UTF-8 the same way.
TEST_F(ReceiveTest, PrintedRecordsNeverSplitAndReadBackExactly) {
    const std::vector<std::string> texts = {"Plain\ntext",
                                            std::string("Holds\0a NUL", 11),
                                            "Latin-1 caf\xe9",
                                            "",
                                            "Cut short \xe2\x82",  // a character cut at the end
                                            std::string(200000, 'z') + "\xff"};
    auto sendAll = [&](bool withNul) {
        std::vector<std::string> ids;
        for (std::size_t i = 0; i < texts.size(); ++i) {
            if (!withNul && i == 1) {
                ids.emplace_back();
                continue;
            }
            ids.push_back(send(root(), texts[i]));
            const struct timespec times[2] = {{1767225600 + static_cast<long>(i), 0},
                                              {1767225600 + static_cast<long>(i), 0}};
            ::utimensat(AT_FDCWD, (imported() / ids.back()).c_str(), times, 0);
        }
        return ids;
    };
    std::vector<std::string> ids = sendAll(true);
    const ProcessResult nul = receive({"--print", "-0"});
    EXPECT_EQ(nul.exitStatus, 3);
    EXPECT_NE(nul.err.find(ids[1]), std::string::npos) << nul.err;
    std::string records;
    for (std::size_t i = 0; i < texts.size(); ++i)
        if (i != 1)
            records += texts[i] + std::string(1, '\0');
    EXPECT_EQ(nul.out, records);
    EXPECT_EQ(countEntries(imported()), 1u);
    EXPECT_TRUE(fs::exists(imported() / ids[1]));
    fs::remove(imported() / ids[1]);

    ids = sendAll(true);
    const ProcessResult json = receive({"--print", "--json"});
    EXPECT_EQ(json.exitStatus, 0) << json.err;
    std::istringstream lines(json.out);
    std::string line;
    std::size_t i = 0;
    for (; std::getline(lines, line); ++i) {
        ASSERT_LT(i, texts.size());
        const auto object = nlohmann::json::parse(line);
        EXPECT_EQ(object["id"], ids[i]);
        EXPECT_EQ(object["bytes"], texts[i].size());
        const bool utf8 = i < 2 || i == 3;
        if (utf8)
            EXPECT_EQ(object["text"], texts[i]) << i;
        else
            EXPECT_EQ(fromBase64(object["text"]["base64"]), texts[i]) << i;
    }
    EXPECT_EQ(i, texts.size());
    EXPECT_EQ(countEntries(imported()), 0u);

    // A container whose path is not UTF-8.
    const std::string latin1 = (scratch() / "caf\xe9").string();
    const std::string id = send(latin1, "Listed");
    auto elsewhere = options();
    elsewhere.environment["QUORVANE_CONTAINER_ROOT"] = latin1;
    const ProcessResult listed =
        testing_support::runProcess(QUORVANE_RECEIVE, {"--list", "--json"}, elsewhere);
    EXPECT_EQ(listed.exitStatus, 0) << listed.err;
    const auto object = nlohmann::json::parse(listed.out);
    EXPECT_EQ(fromBase64(object["path"]["base64"]), handover::importFolderPath(latin1) + "/" + id);
}

// A FAT file system (a USB stick), mounted from an image in a mount namespace of its own, with
// each driver that can mount it here (the kernel's vfat, fusefat): --to a folder there, which
// has no links, delivers each text exactly once, byte-exact, also when receivers are killed
// half-way; an import folder there, where anyone could plant a text, is refused with the reason.
TEST_F(ReceiveTest, OnAFatFileSystemTextsAreDeliveredOnceAndAnImportFolderIsRefused) {
    const std::string mkfs = testing_support::findProgram("mkfs.vfat");
    const std::string mountProgram = testing_support::findProgram("mount");
    const std::string fusefat = testing_support::findProgram("fusefat");
    if (mkfs.empty() || mountProgram.empty())
        GTEST_SKIP() << "needs mkfs.vfat (dosfstools) and mount";
    // Each FAT driver there is: the kernel's (a loop device; its module may not be loaded yet,
    // so a mount is tried) and fusefat.
    struct Driver {
        std::string name;
        std::string program;
        std::vector<std::string> arguments;  // before the image and the mount point
    };
    std::vector<Driver> drivers;
    std::string unavailable;
    if (fs::exists("/dev/loop-control"))
        drivers.push_back(
            {"the kernel's vfat", mountProgram, {"-t", "vfat", "-o", "loop,umask=077"}});
    else
        unavailable += "no loop devices (/dev/loop-control); ";
    if (!fusefat.empty() && fs::exists("/dev/fuse"))
        drivers.push_back({"fusefat", fusefat, {"-o", "rw+"}});
    else
        unavailable += "no fusefat or /dev/fuse; ";
    // Mounts a new FAT image with `driver` in a mount namespace of its own and tries the
    // receiver there.
    auto tryOn = [&](const Driver& driver) {
        fs::remove_all(imported().parent_path());
        std::map<std::string, int> expected;
        // Few texts: fusefat itself corrupts a folder of a few dozen long names (seen with cp and
        // mv).
        for (int n = 0; n < 8; ++n) {
            // Titles repeat and hold what FAT refuses in a name.
            const std::string text = "Q&A: part " + std::to_string(n % 3) + "?\n#" +
                                     std::to_string(n) + " " +
                                     std::string(static_cast<std::size_t>(n * 977 % 20000), 'f');
            send(root(), text);
            ++expected[text];
        }
        return testing_support::runInPrivateMountNamespace([&] {
            using testing_support::Outcome;
            const fs::path image = scratch() / "fat.img";
            const fs::path disk = scratch() / "disk";
            fs::remove(image);
            fs::create_directories(disk);
            writeFile(image, "");
            fs::resize_file(image, 32 << 20);
            if (testing_support::runProcess(mkfs, {image.string()}).exitStatus != 0)
                return Outcome::skipped("mkfs.vfat failed on a 32 MB image");
            std::vector<std::string> mountArguments = driver.arguments;
            mountArguments.push_back(image.string());
            mountArguments.push_back(disk.string());
            const auto mounted = testing_support::runProcess(driver.program, mountArguments);
            if (mounted.exitStatus != 0)
                return Outcome::skipped("cannot mount a FAT image: " + mounted.err);
            const std::unique_ptr<const fs::path, void (*)(const fs::path*)> unmountAtEnd(
                &disk, [](const fs::path* path) { (void)testing_support::unmount(*path); });

            // Receivers killed at moments spread over a run, then one that completes.
            const fs::path out = disk / "Teleprompter";
            for (int kill = 0; kill < 6; ++kill) {
                const pid_t pid = start({"--to", out.string()});
                std::this_thread::sleep_for(std::chrono::milliseconds(3 + 12 * kill));
                ::kill(pid, SIGKILL);
                testing_support::waitProcess(pid);
            }
            const ProcessResult last = receive({"--to", out.string()});
            if (last.exitStatus != 0)
                return Outcome::failed("the last run into FAT failed: " + last.err);
            const auto delivered = contentsOf(out);
            if (delivered != expected)
                return Outcome::failed("not each text once: " + std::to_string(delivered.size()) +
                                       " different texts in the folder, " +
                                       std::to_string(expected.size()) + " sent");
            for (const auto& entry : fs::directory_iterator(out))
                if (entry.path().filename().string().find_first_of(":?") != std::string::npos ||
                    entry.path().filename().string().starts_with("."))
                    return Outcome::failed("left in the folder: " + entry.path().string());
            if (countEntries(imported()) != 0 ||
                countEntries(imported().parent_path() / ".imported-claims") != 0)
                return Outcome::failed("texts or records were left behind");

            // An import folder on FAT: refused by every mode, its text left alone.
            const fs::path fatRoot = disk / "containers";
            const fs::path fatImported = handover::importFolderPath(fatRoot.string());
            fs::create_directories(fatImported);
            const std::string planted = freshId();
            writeFile(fatImported / planted, "Planted\nby anyone");
            auto onFat = options();
            onFat.environment["QUORVANE_CONTAINER_ROOT"] = fatRoot.string();
            for (const std::vector<std::string>& mode : std::vector<std::vector<std::string>>{
                     {"--list"}, {"--to", (scratch() / "taken").string()}, {"--print"}}) {
                const ProcessResult refused =
                    testing_support::runProcess(QUORVANE_RECEIVE, mode, onFat);
                if (refused.exitStatus != 3 || refused.err.find("FAT") == std::string::npos ||
                    !refused.out.empty())
                    return Outcome::failed(mode[0] + " on a FAT import folder: status " +
                                           std::to_string(refused.exitStatus) + ", " + refused.err);
            }
            if (readFile(fatImported / planted) != "Planted\nby anyone")
                return Outcome::failed("the planted text was touched");
            return Outcome::passed();
        });
    };
    int tested = 0;
    for (const Driver& driver : drivers) {
        SCOPED_TRACE(driver.name);
        const auto outcome = tryOn(driver);
        if (outcome.status == testing_support::Outcome::Status::skipped)
            unavailable += driver.name + ": " + outcome.message + "; ";
        else
            ++tested;
        EXPECT_NE(outcome.status, testing_support::Outcome::Status::failed) << outcome.message;
    }
    if (tested == 0)
        GTEST_SKIP() << "no FAT file system could be mounted: " << unavailable;
}

}  // namespace
}  // namespace receive_test
