// The share sheet and the controls gallery in a terminal: the built host run in a
// pseudo-terminal of the test's own, typed at, and read back.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/TemporaryFolder.h"

extern char** environ;

namespace {

using testing_support::readFile;
using testing_support::TemporaryFolder;

// Generous: the sanitizer builds are slow, and a bound only stops a test that would hang.
constexpr auto kPatience = std::chrono::seconds(60);

// The screen as the host last wrote it: the visible text of each row it wrote (1-based),
// escape sequences removed and trailing spaces dropped. Leaving the alternate screen ends it.
std::map<int, std::string> screenRows(const std::string& output) {
    std::map<int, std::string> rows;
    int row = 0;
    for (std::size_t i = 0; i < output.size();) {
        if (output[i] == '\x1b' && i + 1 < output.size() && output[i + 1] == '[') {
            std::size_t end = i + 2;
            while (end < output.size() && (output[end] < 0x40 || output[end] > 0x7E))
                ++end;
            if (end == output.size())
                break;
            const std::string params = output.substr(i + 2, end - i - 2);
            if (output[end] == 'H') {
                row = std::atoi(params.c_str());
                rows[row].clear();
            } else if (output[end] == 'J') {
                rows.clear();
            } else if (output[end] == 'l' && params == "?1049") {
                row = 0;
            }
            i = end + 1;
            continue;
        }
        if (row > 0)
            rows[row] += output[i];
        ++i;
    }
    for (auto& [number, text] : rows)
        text.erase(text.find_last_not_of(' ') + 1);
    return rows;
}

bool anyRow(const std::string& output, const std::function<bool(const std::string&)>& test) {
    for (const auto& [number, text] : screenRows(output)) {
        if (test(text))
            return true;
    }
    return false;
}

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    return first == std::string::npos ? "" : text.substr(first);
}

struct HostRun {
    std::vector<std::string> arguments;
    std::map<std::string, std::string> environment;
    std::optional<std::string> standardInput;  // a pipe; else the terminal
    unsigned short columns = 80;
    std::optional<rlim_t> fileSizeLimit;  // bytes
    // The host started by a small job-control shell in the terminal's session, which takes the
    // terminal back when the host stops, writes kStoppedMark and continues it on a line typed.
    bool underShell = false;
    // The widths this terminal draws the host's probe characters at, answered in turn to each
    // request for the cursor's place ("ESC [ 6 n"); empty: a terminal that never answers.
    std::vector<int> drawnWidths;
};
constexpr char kStoppedMark[] = "[stopped]";

// The job-control shell (in the forked child: system calls only). Ends as the host ended.
[[noreturn]] void runUnderShell(int terminal, char** argv, char** envp) {
    ::signal(SIGTTOU, SIG_IGN);  // it sets the terminal's foreground group from the background
    const pid_t host = ::fork();
    if (host == 0) {
        ::setpgid(0, 0);
        ::signal(SIGTTOU, SIG_DFL);
        ::execve(argv[0], argv, envp);
        ::_exit(127);
    }
    ::setpgid(host, host);
    ::tcsetpgrp(terminal, host);
    for (;;) {
        int status = 0;
        if (::waitpid(host, &status, WUNTRACED) < 0)
            ::_exit(126);
        if (!WIFSTOPPED(status))
            ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
        ::tcsetpgrp(terminal, ::getpgrp());
        [[maybe_unused]] ssize_t ignored = ::write(terminal, kStoppedMark, sizeof kStoppedMark - 1);
        char line[64];
        ignored = ::read(terminal, line, sizeof line);  // "fg"
        ::tcsetpgrp(terminal, host);
        ::kill(-host, SIGCONT);
    }
}

// The host in a fresh pseudo-terminal that is its controlling terminal.
class TerminalHost {
  public:
    explicit TerminalHost(const HostRun& run) : drawnWidths_(run.drawnWidths) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            throw std::runtime_error("no pseudo-terminal");
        resize(24, run.columns);
        ::tcgetattr(master_, &initialMode_);
        const std::string slaveName = ::ptsname(master_);

        std::map<std::string, std::string> environment;
        for (char** entry = environ; *entry; ++entry) {
            const std::string text = *entry;
            const auto equals = text.find('=');
            environment[text.substr(0, equals)] = text.substr(equals + 1);
        }
        environment.erase("NO_COLOR");
        environment["TERM"] = "xterm-256color";
        environment["COLORTERM"] = "truecolor";
        for (const auto& [name, value] : run.environment) {
            if (value.empty())
                environment.erase(name);
            else
                environment[name] = value;
        }
        std::vector<std::string> strings{QUORVANE_HOST};
        strings.insert(strings.end(), run.arguments.begin(), run.arguments.end());
        const std::size_t argumentCount = strings.size();
        for (const auto& [name, value] : environment)
            strings.push_back(name + "=" + value);
        std::vector<char*> argv, envp;
        for (std::size_t i = 0; i < strings.size(); ++i)
            (i < argumentCount ? argv : envp).push_back(strings[i].data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);

        int input[2] = {-1, -1};
        if (run.standardInput && ::pipe2(input, O_CLOEXEC) != 0)
            throw std::runtime_error("no pipe");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setsid();
            const int slave = ::open(slaveName.c_str(), O_RDWR);  // the controlling terminal
            ::ioctl(slave, TIOCSCTTY, 0);
            ::dup2(run.standardInput ? input[0] : slave, STDIN_FILENO);
            ::dup2(slave, STDOUT_FILENO);
            ::dup2(slave, STDERR_FILENO);
            if (run.fileSizeLimit) {
                const struct rlimit limit { *run.fileSizeLimit, *run.fileSizeLimit };
                ::setrlimit(RLIMIT_FSIZE, &limit);
            }
            if (run.underShell)
                runUnderShell(slave, argv.data(), envp.data());
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        if (run.standardInput) {
            ::close(input[0]);
            const std::string& text = *run.standardInput;
            for (std::size_t done = 0; done < text.size();) {
                const ssize_t count = ::write(input[1], text.data() + done, text.size() - done);
                if (count <= 0)
                    break;
                done += static_cast<std::size_t>(count);
            }
            ::close(input[1]);
        }
    }

    ~TerminalHost() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(master_);
    }

    void type(const std::string& keys) {
        ASSERT_EQ(::write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }
    void resize(unsigned short rows, unsigned short columns) {
        const struct winsize size { rows, columns, 0, 0 };
        ::ioctl(master_, TIOCSWINSZ, &size);
    }
    void signal(int number) { ::kill(pid_, number); }

    // Reads until `condition` holds of the output; false when the host ended first or the
    // patience ran out.
    bool waitUntil(const std::function<bool(const std::string&)>& condition) {
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (!condition(output_)) {
            if (ended_ || std::chrono::steady_clock::now() > deadline)
                return false;
            readSome();
        }
        return true;
    }
    bool waitFor(const std::string& text) {
        return waitUntil([&](const std::string& out) { return out.find(text) != out.npos; });
    }
    // Waits until the first frame is complete (its last row, the keys line, is drawn).
    bool waitForSheet() {
        return waitUntil([](const std::string& out) {
            return out.find(" · light ") != out.npos || out.find(" · dark ") != out.npos;
        });
    }

    // Reads to the end and reaps the host: its exit status, or 128 + the signal that ended it.
    int finish() {
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (!ended_ && std::chrono::steady_clock::now() < deadline)
            readSome();
        int status = 0;
        ::waitpid(pid_, &status, 0);
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    [[nodiscard]] const std::string& output() const { return output_; }
    [[nodiscard]] struct termios initialMode() const { return initialMode_; }
    [[nodiscard]] struct termios currentMode() const {
        struct termios mode {};
        ::tcgetattr(master_, &mode);
        return mode;
    }

  private:
    void readSome() {
        struct pollfd watched {
            master_, POLLIN, 0
        };
        if (::poll(&watched, 1, 100) <= 0)
            return;
        char buffer[4096];
        const ssize_t count = ::read(master_, buffer, sizeof buffer);
        if (count > 0)
            output_.append(buffer, static_cast<std::size_t>(count));
        else
            ended_ = true;  // EIO: every descriptor of the terminal's other side is closed
        answerCursorRequests();
    }

    // Answers each new request for the cursor's place as a terminal would after drawing the
    // probe at the top left: row 1, the column after it.
    void answerCursorRequests() {
        static constexpr std::string_view kRequest = "\x1b[6n";
        for (auto at = output_.find(kRequest, searched_); at != std::string::npos;
             at = output_.find(kRequest, searched_)) {
            if (answered_ < drawnWidths_.size())
                type("\x1b[1;" + std::to_string(drawnWidths_[answered_] + 1) + "R");
            ++answered_;
            searched_ = at + kRequest.size();
        }
        searched_ = std::max(searched_, output_.size() - std::min(output_.size(), kRequest.size()));
    }

    std::vector<int> drawnWidths_;
    std::size_t answered_ = 0;
    std::size_t searched_ = 0;  // requests before this byte of the output are answered
    int master_ = -1;
    pid_t pid_ = -1;
    bool ended_ = false;
    bool exited_ = false;
    std::string output_;
    struct termios initialMode_ {};
};

void expectModeRestored(const TerminalHost& host);

// The terminal's mode is as before, and the main screen shows: the host's last switch of
// screens left the alternate one.
void expectTerminalGivenBack(const TerminalHost& host) {
    const std::string& out = host.output();
    const std::size_t entered = out.rfind("\x1b[?1049h");
    const std::size_t left = out.rfind("\x1b[?1049l");
    EXPECT_TRUE(left != std::string::npos && (entered == std::string::npos || left > entered));
    EXPECT_NE(out.find("\x1b[?25h", entered == std::string::npos ? 0 : entered), std::string::npos)
        << "the cursor is shown again";
    expectModeRestored(host);
}

void expectModeRestored(const TerminalHost& host) {
    const struct termios before = host.initialMode();
    const struct termios after = host.currentMode();
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cc[VSUSP], before.c_cc[VSUSP]);
    EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);
}

// The rendition the sheet gives text: an optional bold and underline, then the colour on the
// appearance's background.
std::string rendition(const char* attributes, const char* foreground, bool dark) {
    return std::string("\x1b[0") + attributes + ";38;2;" + foreground +
           (dark ? ";48;2;0;0;0m" : ";48;2;255;255;255m");
}
constexpr const char* kBlack = "0;0;0";
constexpr const char* kWhite = "255;255;255";

class Sheet : public ::testing::Test {
  protected:
    void SetUp() override {
        const int probe = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (probe < 0)
            GTEST_SKIP() << "this system offers no pseudo-terminals to run the host in";
        ::close(probe);
    }
    HostRun share(const std::string& text, std::vector<std::string> options = {}) {
        const auto path = inputs_.path() / "text";
        testing_support::writeFile(path, text);
        options.push_back(path.string());
        return {options,
                {{"QUORVANE_CONTAINER_ROOT", root_.str()}, {"XDG_STATE_HOME", inputs_.str()}}};
    }
    std::vector<std::string> importedFiles() const {
        return testing_support::entriesOf(root_.path() / "group.app.quorvane.teleprompter" /
                                          "regular" / "imported");
    }
    std::string imported(const std::string& name) const {
        return readFile(root_.path() / "group.app.quorvane.teleprompter" / "regular" / "imported" /
                        name);
    }

    TemporaryFolder root_;
    TemporaryFolder inputs_;
};

const std::string kText = "Welcome to the evening bulletin\nGood evening, and thank you.\n";

TEST_F(Sheet, DrawsTheTitleBoldAndTheBodyInTheAppearanceColourAndEscCloses) {
    TerminalHost host(share(kText, {"--appearance", "dark"}));
    ASSERT_TRUE(host.waitForSheet()) << host.output();
    // The title line: bold, underlined for its larger size, and without a colour of its own
    // until the first trait change, so in the sheet's text colour. The body: white on dark.
    EXPECT_NE(host.output().find(rendition(";1;4", kWhite, true) + "Welcome to the evening"),
              std::string::npos)
        << host.output();
    EXPECT_NE(host.output().find(rendition("", kWhite, true) + "  Good evening"),
              std::string::npos);
    EXPECT_TRUE(anyRow(host.output(), [](const std::string& row) {
        return row.starts_with(" ✕ Close") && row.ends_with("Send to Teleprompter");
    }));

    // d: the light appearance reaches the controller, which recolours the whole text black.
    host.type("d");
    ASSERT_TRUE(host.waitFor(rendition("", kBlack, false) + "  Good evening")) << host.output();
    // d again: dark, and now the title line too takes the appearance colour.
    const std::size_t mark = host.output().size();
    host.type("d");
    ASSERT_TRUE(host.waitUntil([&](const std::string& out) {
        return out.find(rendition(";1;4", kWhite, true) + "Welcome", mark) != out.npos;
    })) << host.output();

    host.type("\x1b");
    EXPECT_EQ(host.finish(), 1);
    EXPECT_TRUE(importedFiles().empty());
    const std::size_t left = host.output().rfind("\x1b[?1049l");
    ASSERT_NE(left, std::string::npos);
    EXPECT_NE(host.output().find("Cancelled: nothing was sent.", left), std::string::npos);
    expectModeRestored(host);
}

TEST_F(Sheet, EnterSendsTheTextAsGivenAndControlCharactersNeverReachTheTerminal) {
    const std::string text =
        "Title \x1b]0;renamed\x07 line\n\x1b[2J\xc2\x9b"
        "31m body\n"
        "total \u202E0.01$\u202C \u2067due\u2069\n";
    TerminalHost host(share(text));
    ASSERT_TRUE(host.waitForSheet()) << host.output();
    const std::string sheet = host.output();
    EXPECT_EQ(sheet.find("\x1b]0;"), std::string::npos);
    EXPECT_EQ(sheet.find("\xc2\x9b"), std::string::npos);
    EXPECT_TRUE(anyRow(sheet, [](const std::string& row) {
        return row == "  Title ␛]0;renamed␇ line";
    })) << sheet;
    EXPECT_TRUE(anyRow(sheet, [](const std::string& row) { return row == "  ␛[2J\uFFFD31m body"; }))
        << sheet;
    // Bidirectional controls would reorder what the person reads: shown by name instead.
    EXPECT_EQ(sheet.find("\u202E"), std::string::npos);
    EXPECT_TRUE(anyRow(sheet, [](const std::string& row) {
        return row == "  total ‹RLO›0.01$‹PDF› ‹RLI›due‹PDI›";
    })) << sheet;

    host.type("\r");
    EXPECT_EQ(host.finish(), 0);
    const auto files = importedFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(imported(files[0]), text);
    const std::size_t left = host.output().rfind("\x1b[?25h\x1b[?1049l");
    ASSERT_NE(left, std::string::npos);
    EXPECT_NE(host.output().find("Sent to the teleprompter.", left), std::string::npos);
    expectModeRestored(host);
}

// After a send, a person at a terminal learns where the text waits, and the first time only
// how to take texts out; a place to remember that which cannot be written never fails a send.
TEST_F(Sheet, ASendAtATerminalSaysWhereTheTextWaitsAndOnceHowToTakeItOut) {
    const std::string where = "The text waits in the teleprompter's import folder";
    const std::string how = "quorvane-receive --to DIR";
    std::vector<std::string> said;
    for (const bool writable : {true, true, false}) {
        HostRun run = share("a note", {"--send"});
        if (!writable)
            run.environment["XDG_STATE_HOME"] = "/dev/null/state";
        TerminalHost host(run);
        EXPECT_EQ(host.finish(), 0) << host.output();
        EXPECT_NE(host.output().find(where), std::string::npos) << host.output();
        said.push_back(host.output().find(how) != std::string::npos ? "how" : "-");
    }
    EXPECT_EQ(said, (std::vector<std::string>{"how", "-", "how"}));
    EXPECT_EQ(importedFiles().size(), 3u);
}

TEST_F(Sheet, ClosingDuringASendSaysTheTextWasSavedAllTheSame) {
    TerminalHost host(share(kText));
    ASSERT_TRUE(host.waitForSheet()) << host.output();
    // Both keys are handled before the send's completion can run: the close ends the request,
    // and the write already under way still finishes.
    host.type("\rq");
    EXPECT_EQ(host.finish(), 5) << "cancelled, but saved";
    ASSERT_EQ(importedFiles().size(), 1u);
    EXPECT_NE(host.output().find("was saved all the same"), std::string::npos) << host.output();
}

// Ctrl+C once the send is under way cannot take the text back: like Esc, it closes the sheet
// when the send has ended, and says that the text was saved (and where).
TEST_F(Sheet, CtrlCDuringASendWaitsForItAndReportsTheSavedText) {
    HostRun run = share(kText);
    run.environment["LD_PRELOAD"] = QUORVANE_PAUSE_AFTER_LINK;
    run.environment["ASAN_OPTIONS"] = "verify_asan_link_order=0";
    run.environment["QUORVANE_PAUSE_AFTER_LINK_MS"] = "1500";
    TerminalHost host(run);
    ASSERT_TRUE(host.waitForSheet()) << host.output();
    host.type("\r");
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (importedFiles().empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    host.type("\x03");
    EXPECT_EQ(host.finish(), 5) << host.output();
    const auto files = importedFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(imported(files[0]), kText);
    const std::size_t left = host.output().rfind("\x1b[?1049l");
    ASSERT_NE(left, std::string::npos);
    EXPECT_NE(host.output().find("was saved all the same", left), std::string::npos)
        << host.output();
    EXPECT_NE(host.output().find(files[0], left), std::string::npos) << host.output();
    expectModeRestored(host);
}

// A listing on a terminal, in words or as JSON: no planted name's control or bidirectional
// character reaches the terminal raw.
TEST_F(Sheet, NoListingLetsARawControlReachTheTerminal) {
    const auto folder = root_.path() / "group.app.quorvane.teleprompter" / "regular" / "imported";
    std::filesystem::create_directories(folder);
    const std::string raws[] = {"\x1b",         "\x7f",         "\xc2\x9b",
                                "\xc2\x85",     "\xd8\x9c",     "\xe2\x80\x8e",
                                "\xe2\x80\x8f", "\xe2\x80\xae", "\xe2\x81\xa7"};
    std::string name = "n";
    for (const std::string& raw : raws)
        name += raw + "x";
    testing_support::writeFile(folder / name, "");
    for (const char* form : {"--json", "--list"}) {
        HostRun run{{"--list", form}, {{"QUORVANE_CONTAINER_ROOT", root_.str()}}};
        if (std::string(form) == "--list")
            run.arguments.pop_back();
        TerminalHost host(run);
        EXPECT_EQ(host.finish(), 0) << form << host.output();
        EXPECT_NE(host.output().find("imported/"), std::string::npos) << form << host.output();
        for (const std::string& raw : raws)
            EXPECT_EQ(host.output().find(raw), std::string::npos) << form << " " << host.output();
    }
}

TEST_F(Sheet, KeysComeFromTheTerminalWhenTheTextComesOnStandardInput) {
    HostRun run{{"-"}, {{"QUORVANE_CONTAINER_ROOT", root_.str()}}, "piped text\n"};
    TerminalHost host(run);
    ASSERT_TRUE(host.waitForSheet()) << host.output();
    EXPECT_NE(host.output().find("Loading..."), std::string::npos) << "shown while the text comes";
    EXPECT_TRUE(
        anyRow(host.output(), [](const std::string& row) { return row == "  piped text"; }));
    host.type("\x13");  // Ctrl+S
    EXPECT_EQ(host.finish(), 0);
    const auto files = importedFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(imported(files[0]), "piped text\n");
}

TEST_F(Sheet, ARedrawFollowsTheWindowsNewWidth) {
    TerminalHost host(share("Good evening, and thank you for joining us tonight.\n"));
    ASSERT_TRUE(host.waitForSheet()) << host.output();
    host.resize(24, 30);  // the text is 26 columns wide inside the two-column insets
    ASSERT_TRUE(host.waitUntil([](const std::string& out) {
        return anyRow(out, [](const std::string& row) { return row == "  you for joining us"; });
    })) << host.output();
    host.type("q");
    EXPECT_EQ(host.finish(), 1);
}

TEST_F(Sheet, NarrowAndLongTheSheetSaysWhatItCutsAndWhereItIs) {
    // A light sheet on a terminal of any colours: the title line, which has no colour of its
    // own at first, is drawn in the sheet's black on its white, never in the terminal's own.
    std::string text = "Evening bulletin\n";
    for (int line = 1; line <= 60; ++line)
        text += "Line " + std::to_string(line) + "\n";
    TerminalHost host(share(text, {"--appearance", "light"}));
    ASSERT_TRUE(host.waitForSheet()) << host.output();
    EXPECT_NE(host.output().find(rendition(";1;4", kBlack, false) + "Evening bulletin"),
              std::string::npos)
        << host.output();
    // Where the screen stands in a text longer than it, and no key offered that only seems
    // to work (the terminal has one size of letter).
    const auto keysRow = [](const std::string& out) {
        std::string found;
        for (const auto& [number, row] : screenRows(out)) {
            if (row.find(" · light") != std::string::npos)
                found = row;
        }
        return found;
    };
    EXPECT_TRUE(keysRow(host.output()).ends_with("Top · Large · light")) << host.output();
    EXPECT_EQ(keysRow(host.output()).find("size"), std::string::npos) << host.output();
    std::size_t mark = host.output().size();
    host.type("\x1b[6~");  // PgDn
    ASSERT_TRUE(host.waitUntil([&](const std::string& out) {
        const std::string row = keysRow(out.substr(mark));
        return row.find("% · Large") != std::string::npos;
    })) << host.output().substr(mark);
    mark = host.output().size();
    host.type("\x1b[F");  // End
    ASSERT_TRUE(host.waitUntil([&](const std::string& out) {
        return keysRow(out.substr(mark)).ends_with("Bot · Large · light");
    })) << host.output().substr(mark);
    // '+' changes nothing on screen (no frame is drawn for it).
    mark = host.output().size();
    host.type("+");
    host.type("\x0c");  // Ctrl+L: a whole frame, as it now is
    ASSERT_TRUE(host.waitUntil([&](const std::string& out) {
        return keysRow(out.substr(mark)).ends_with("Bot · Large · light");
    })) << host.output().substr(mark);

    // 18 columns: the send item is cut with an ellipsis, and the close item stays whole.
    host.resize(24, 18);
    ASSERT_TRUE(host.waitUntil([](const std::string& out) {
        return anyRow(out, [](const std::string& row) { return row == " ✕ Close Send to…"; });
    })) << host.output();
    host.type("q");
    EXPECT_EQ(host.finish(), 1);
}

TEST_F(Sheet, EveryWayOutGivesTheTerminalBack) {
    // Signals whose default action ends the program: the host ends by them all the same.
    for (const int signal : {SIGTERM, SIGUSR1, SIGALRM}) {
        TerminalHost host(share(kText));
        ASSERT_TRUE(host.waitForSheet()) << signal << host.output();
        host.signal(signal);
        EXPECT_EQ(host.finish(), 128 + signal);
        expectTerminalGivenBack(host);
        EXPECT_TRUE(importedFiles().empty());
    }

    // Ctrl+C before any send leaves with the request open, the terminal given back.
    {
        TerminalHost host(share(kText));
        ASSERT_TRUE(host.waitForSheet()) << host.output();
        host.type("\x03");
        EXPECT_EQ(host.finish(), 128 + SIGINT);
        expectTerminalGivenBack(host);
        EXPECT_TRUE(importedFiles().empty());
    }

    // The host ignores SIGXFSZ: a file-size limit fails the write instead, and the send is
    // reported as failed (status 3) once the terminal is back.
    HostRun limited = share(kText);
    limited.fileSizeLimit = 8;
    TerminalHost host(limited);
    ASSERT_TRUE(host.waitForSheet()) << host.output();
    host.signal(SIGXFSZ);
    host.type("\r");
    EXPECT_EQ(host.finish(), 3) << host.output();
    expectTerminalGivenBack(host);
    EXPECT_TRUE(importedFiles().empty());
    EXPECT_NE(host.output().find("too large", host.output().rfind("\x1b[?1049l")),
              std::string::npos)
        << host.output();
}

TEST_F(Sheet, CtrlZSuspendsAndTheSheetComesBackWhole) {
    HostRun run = share(kText);
    run.underShell = true;
    TerminalHost host(run);
    ASSERT_TRUE(host.waitForSheet()) << host.output();
    EXPECT_NE(host.output().find("^Z suspend"), std::string::npos);

    host.type("\x1a");
    ASSERT_TRUE(host.waitFor(kStoppedMark)) << host.output();
    expectTerminalGivenBack(host);  // while stopped

    const std::size_t resumed = host.output().size();
    host.type("fg\r");
    ASSERT_TRUE(host.waitUntil([&](const std::string& out) {
        const std::size_t entered = out.find("\x1b[?1049h", resumed);
        return entered != out.npos && out.find(" · light ", entered) != out.npos &&
               out.find("  Good evening, and thank you.", entered) != out.npos;
    })) << host.output();
    host.type("q");
    EXPECT_EQ(host.finish(), 1);
    expectTerminalGivenBack(host);
}

TEST_F(Sheet, RowsFollowTheWidthsTheTerminalDrawsAndNoWordIsCut) {
    // 30 columns: 26 for the text. A joined family is one 2-column picture on a terminal that
    // draws emoji sequences whole, three emoji (6 columns) on one that draws each character
    // (as tmux does). A Devanagari word with a spacing vowel sign takes 3 columns on both.
    const std::string family = "👨\u200D👩\u200D👧";
    const std::string families = family + " " + family + " " + family + " " + family;
    const std::string words = "काम काम काम काम काम काम काम काम";
    const std::string wide = "𛀁𛀂𛀃𛀄𛀅𛀆𛀇𛀈𛀉𛀊𛀋𛀌𛀍中文字符";
    struct Terminal {
        const char* name;
        std::vector<int> drawnWidths;  // family, emoji heart, Devanagari syllable
        std::vector<std::string> rows;
    };
    const Terminal terminals[] = {
        {"draws emoji sequences whole", {2, 2, 2}, {families}},
        {"draws each character", {6, 1, 2}, {family + " " + family + " " + family, family}},
    };
    for (const Terminal& terminal : terminals) {
        HostRun run = share(families + "\n" + words + "\n" + wide + "\n");
        run.columns = 30;
        run.drawnWidths = terminal.drawnWidths;
        TerminalHost host(run);
        ASSERT_TRUE(host.waitForSheet()) << host.output();
        std::vector<std::string> expected = terminal.rows;
        expected.insert(expected.end(),
                        {"काम काम काम काम काम काम", "काम काम",
                         "𛀁𛀂𛀃𛀄𛀅𛀆𛀇𛀈𛀉𛀊𛀋𛀌𛀍", "中文字符"});
        for (const std::string& wanted : expected) {
            EXPECT_TRUE(
                anyRow(host.output(), [&](const std::string& row) { return row == "  " + wanted; }))
                << terminal.name << ": no row shows " << wanted << "\n"
                << host.output();
        }
        host.type("q");
        EXPECT_EQ(host.finish(), 1);
    }
}

TEST_F(Sheet, RightToLeftLinesShowInTheOrderTheyAreRead) {
    // Stored order: shin lamed vav mem; read right to left, the screen shows mem first, and the
    // line ends at the text's right edge (30 columns less the 2-column inset).
    HostRun run = share("Title\nשלום (עולם)\n");
    run.columns = 30;
    TerminalHost host(run);
    ASSERT_TRUE(host.waitForSheet()) << host.output();
    EXPECT_TRUE(anyRow(host.output(), [](const std::string& row) {
        return row == std::string(28 - 11, ' ') + "(םלוע) םולש";
    })) << host.output();
    host.type("q");
    EXPECT_EQ(host.finish(), 1);
}

// tmux answers the host's probes itself (3.3 joins emoji sequences but gives a spacing vowel
// sign its own column): every row fits its pane, and nothing is lost at a row's end.
TEST_F(Sheet, InTmuxJoinedEmojiAndDevanagariNeverOverrun) {
    if (std::system("command -v tmux >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "tmux is not installed";
    const std::string family = "👨\u200D👩\u200D👧";
    std::string text = "Title\n";
    for (int i = 0; i < 9; ++i)
        text += family + " काम कामकाम ";
    const auto path = inputs_.path() / "text";
    testing_support::writeFile(path, text + "\n");
    const std::string socket = (inputs_.path() / "tmux").string();
    const std::string tmux = "tmux -S '" + socket + "' -f /dev/null ";
    const std::string command = "env QUORVANE_CONTAINER_ROOT='" + root_.str() + "' '" +
                                QUORVANE_HOST + "' '" + path.string() + "'";
    ASSERT_EQ(std::system((tmux + "new-session -d -x 30 -y 20 \"" + command + "\"").c_str()), 0);
    std::string screen;
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (screen.find(" · light") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const std::string capture = (inputs_.path() / "screen").string();
        if (std::system((tmux + "capture-pane -p > '" + capture + "' 2>/dev/null").c_str()) == 0)
            screen = readFile(capture);
    }
    [[maybe_unused]] const int ended = std::system((tmux + "kill-server 2>/dev/null").c_str());
    ASSERT_NE(screen.find(" · light"), std::string::npos) << screen;
    // Each family and each word arrives whole: as many as were written, on rows that end
    // before the pane's right edge and its two-column inset.
    std::size_t families = 0, words = 0;
    for (std::size_t at = screen.find(family); at != std::string::npos;
         at = screen.find(family, at + 1))
        ++families;
    for (std::size_t at = screen.find("काम"); at != std::string::npos;
         at = screen.find("काम", at + 1))
        ++words;
    EXPECT_EQ(families, 9u) << screen;
    EXPECT_EQ(words, 27u) << screen;
}

TEST_F(Sheet, ATerminalThatCannotMoveItsCursorIsRefused) {
    for (const char* type : {"dumb", "no-such-terminal"}) {
        HostRun run = share(kText);
        run.environment["TERM"] = type;
        TerminalHost host(run);
        EXPECT_EQ(host.finish(), 2) << type;
        EXPECT_NE(host.output().find("--send or --close"), std::string::npos) << host.output();
        EXPECT_EQ(host.output().find("\x1b["), std::string::npos) << host.output();
    }
}

TEST_F(Sheet, ColoursFollowTheTerminal) {
    struct Case {
        const char* name;
        std::map<std::string, std::string> environment;
        const char* bodyRendition;  // before "  Good evening"
    };
    const Case cases[] = {
        {"NO_COLOR", {{"NO_COLOR", "1"}}, "\x1b[0m"},
        {"no colour capability", {{"TERM", "vt100"}, {"COLORTERM", ""}}, "\x1b[0m"},
        {"256 colours", {{"COLORTERM", ""}}, "\x1b[0;38;5;16;48;5;231m"},
        {"8 colours", {{"TERM", "xterm"}, {"COLORTERM", ""}}, "\x1b[0;30;47m"},
    };
    for (const Case& each : cases) {
        HostRun run = share(kText);
        run.environment.insert(each.environment.begin(), each.environment.end());
        TerminalHost host(run);
        ASSERT_TRUE(host.waitForSheet()) << each.name << host.output();
        EXPECT_NE(host.output().find(std::string(each.bodyRendition) + "  Good evening"),
                  std::string::npos)
            << each.name;
        // Bold stays without colour: the title line is still told apart.
        EXPECT_NE(host.output().find("\x1b[0;1;4"), std::string::npos) << each.name;
        host.type("q");
        EXPECT_EQ(host.finish(), 1) << each.name;
    }
}

class ControlsGallery : public Sheet {};

TEST_F(ControlsGallery, TheThumbSticksAtZeroAndTicksAtMostTwiceASecond) {
    TerminalHost host(HostRun{{"--controls"}});
    const auto rowIs = [&](const std::string& wanted) {
        return host.waitUntil([&](const std::string& out) {
            return anyRow(out, [&](const std::string& row) { return trimmed(row) == wanted; });
        });
    };
    ASSERT_TRUE(rowIs("ticks 0")) << host.output();

    // Two moves in one go, both within the stick band: the thumb snaps back each time, and the
    // second tick, a moment after the first, is dropped.
    host.type("\x1b[C\x1b[C");
    ASSERT_TRUE(host.waitFor("✦ tick")) << host.output();
    ASSERT_TRUE(rowIs("ticks 1")) << host.output();  // the flash has gone again
    // The finger moves on past the band: the thumb follows it.
    host.type("\x1b[C");
    ASSERT_TRUE(rowIs("0.06")) << host.output();
    EXPECT_EQ(host.output().find("ticks 2"), std::string::npos);

    // Back into the band once the half second is over: it sticks and ticks again.
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    host.type("\x1b[D");
    ASSERT_TRUE(rowIs("ticks 2")) << host.output();
    EXPECT_TRUE(rowIs("0.00"));

    // The toggle flicked by space: the knob moves to the other side, the capsule stays.
    host.type(" ");
    ASSERT_TRUE(host.waitUntil([](const std::string& out) {
        return anyRow(out, [](const std::string& row) {
            return trimmed(row).starts_with("━━━━●  on    tint green");
        });
    })) << host.output();

    host.type("q");
    EXPECT_EQ(host.finish(), 0);
    expectModeRestored(host);
}

}  // namespace
