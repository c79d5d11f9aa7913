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

#include "receive/ReceiveFixture.h"

namespace receive_test {
namespace {

using testing_support::ProcessResult;

// Runs the receiver with standard output on `out` (standard error discarded).
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

}  // namespace
}  // namespace receive_test
