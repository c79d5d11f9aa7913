// The share host end to end: the built program shares real text into a temporary container.
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>
#include <thread>

#include <nlohmann/json.hpp>

#include "support/Subprocess.h"
#include "support/TemporaryFolder.h"

namespace {

using nlohmann::json;
using testing_support::ProcessOptions;
using testing_support::ProcessResult;
using testing_support::readFile;
using testing_support::runProcess;
using testing_support::TemporaryFolder;

const std::regex kUuidName("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$");

class Host : public ::testing::Test {
  protected:
    ProcessResult run(const std::vector<std::string>& arguments,
                      std::optional<std::string> input = std::nullopt,
                      std::optional<std::string> containerRoot = std::nullopt) {
        ProcessOptions options;
        options.environment["QUORVANE_CONTAINER_ROOT"] = containerRoot.value_or(root_.str());
        options.input = std::move(input);
        return runProcess(QUORVANE_HOST, arguments, options);
    }
    // Shares `text` from a file with --send --json; returns the parsed report.
    json sendText(const std::string& text, std::vector<std::string> extra = {}) {
        const auto path = inputs_.path() / ("input-" + std::to_string(counter_++));
        testing_support::writeFile(path, text);
        std::vector<std::string> arguments{"--send", "--json"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        arguments.push_back(path.string());
        const ProcessResult result = run(arguments);
        EXPECT_EQ(result.exitStatus, 0) << result.err;
        return json::parse(result.out);
    }
    std::filesystem::path importFolder() const {
        return root_.path() / "group.app.quorvane.teleprompter" / "regular" / "imported";
    }

    TemporaryFolder root_;
    TemporaryFolder inputs_;
    int counter_ = 0;
};

TEST_F(Host, SendsEveryKindOfTextByteForByte) {
    const std::pair<const char*, std::string> texts[] = {
        {"ASCII", "Hello, teleprompter.\nSecond line."},
        {"accented letters",
         "Caf\xc3\xa9 cr\xc3\xa8me br\xc3\xbbl\xc3\xa9"
         "e, \xc3\x85ngstr\xc3\xb6m"},
        {"emoji",
         "\xf0\x9f\x8e\xac Action! "
         "\xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x91\xa7"},
        {"CR LF", "one\r\ntwo\r\n"},
        {"white space around", "\n\t  padded  \t\n\n"},
        {"empty", ""},
    };
    for (const auto& [name, text] : texts) {
        const json report = sendText(text);
        EXPECT_EQ(report["outcome"], "completed") << name;
        EXPECT_TRUE(report["error"].is_null()) << name;
        ASSERT_EQ(report["files"].size(), 1u) << name;
        const std::filesystem::path file = report["files"][0].get<std::string>();
        EXPECT_EQ(file.parent_path(), importFolder()) << name;
        EXPECT_TRUE(std::regex_match(file.filename().string(), kUuidName)) << name << ": " << file;
        EXPECT_EQ(readFile(file), text) << name;
    }
    EXPECT_EQ(testing_support::entriesOf(importFolder()).size(), std::size(texts));
}

TEST_F(Host, TheSameTextTwiceGivesTwoFiles) {
    const json first = sendText("twice");
    const json second = sendText("twice");
    ASSERT_EQ(first["files"].size(), 1u);
    ASSERT_EQ(second["files"].size(), 1u);
    EXPECT_NE(first["files"][0], second["files"][0]);
    EXPECT_EQ(readFile(second["files"][0].get<std::string>()), "twice");
}

TEST_F(Host, ReportsWhatTheSheetShowed) {
    const json report = sendText("My title\nbody", {"--appearance", "dark", "--text-size", "AX5"});
    EXPECT_EQ(report["navigationTitle"], "My title\n");
    EXPECT_EQ(report["textView"]["string"], "My title\n\nMy title\nbody");
    const json& runs = report["textView"]["runs"];
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0], (json{{"start", 0},
                             {"length", 10},
                             {"fontSize", 60.0},
                             {"bold", true},
                             {"foregroundColor", nullptr}}));
    EXPECT_EQ(runs[1], (json{{"start", 10},
                             {"length", 13},
                             {"fontSize", 53.0},
                             {"bold", false},
                             {"foregroundColor", "#ffffff"}}));

    const json old = sendText("x", {"--platform-version", "11.4"});
    EXPECT_EQ(old["textView"]["runs"][1]["foregroundColor"], nullptr)
        << "no appearance colouring before 12.0";
}

TEST_F(Host, ListKeepsEveryEntryAndReadsBackExactly) {
    const json sent = sendText("listed");
    std::filesystem::create_directory(importFolder() / "subfolder");
    testing_support::writeFile(importFolder() / ".hidden", "");
    const ProcessResult result = run({"--list"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    std::vector<std::string> lines;
    std::istringstream stream(result.out);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    std::vector<std::string> expected{(importFolder() / ".hidden").string(),
                                      (importFolder() / "subfolder").string(),
                                      sent["files"][0].get<std::string>()};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(lines, expected);

    // A planted name with a line feed reads back exactly with -0 and with --json.
    testing_support::writeFile(importFolder() / "two\nlines", "");
    expected.push_back((importFolder() / "two\nlines").string());
    std::sort(expected.begin(), expected.end());
    const ProcessResult nul = run({"--list", "-0"});
    std::vector<std::string> entries;
    for (std::size_t start = 0, end; (end = nul.out.find('\0', start)) != std::string::npos;
         start = end + 1)
        entries.push_back(nul.out.substr(start, end - start));
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, expected);
    auto listed =
        json::parse(run({"--list", "--json"}).out)["importFolder"].get<std::vector<std::string>>();
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, expected);

    // Names that are not UTF-8 come out exactly (base64 of their bytes): two that differ only
    // in such bytes stay different, and each opens by what was printed.
    const auto decoded = [](const json& entry) {
        if (entry.is_string())
            return entry.get<std::string>();
        const std::string text = entry.at("base64").get<std::string>();
        const std::string digits =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::string bytes;
        unsigned bits = 0, count = 0;
        for (const char c : text) {
            if (c == '=')
                break;
            bits = bits << 6 | static_cast<unsigned>(digits.find(c));
            if ((count += 6) >= 8) {
                bytes += static_cast<char>((bits >> (count - 8)) & 0xFF);
                count -= 8;
            }
        }
        return bytes;
    };
    const std::vector<std::string> badNames{"bad\xff\xfe", "bad\xfe\xff"};
    for (const std::string& name : badNames)
        testing_support::writeFile(importFolder() / name, name);
    const json exact = json::parse(run({"--list", "--json"}).out)["importFolder"];
    for (const std::string& name : badNames) {
        const std::string path = (importFolder() / name).string();
        const auto found = std::find_if(exact.begin(), exact.end(),
                                        [&](const json& entry) { return decoded(entry) == path; });
        ASSERT_NE(found, exact.end()) << exact.dump();
        EXPECT_TRUE(found->is_object()) << found->dump();
        EXPECT_EQ(readFile(decoded(*found)), name);
    }
    for (const std::string& name : badNames)
        std::filesystem::remove(importFolder() / name);

    // A container that cannot be used is reported, for --list too.
    testing_support::writeFile(inputs_.path() / "file", "");
    const ProcessResult unusable =
        run({"--list"}, std::nullopt, (inputs_.path() / "file").string());
    EXPECT_EQ(unusable.exitStatus, 3);
    EXPECT_EQ(unusable.out, "");
    EXPECT_NE(unusable.err.find((inputs_.path() / "file").string()), std::string::npos);
    EXPECT_NE(unusable.err.find("Not a directory"), std::string::npos) << unusable.err;

    // A link planted in place of the folder is refused, not listed through.
    std::filesystem::rename(importFolder(), inputs_.path() / "elsewhere");
    std::filesystem::create_directory_symlink(inputs_.path() / "elsewhere", importFolder());
    const ProcessResult linked = run({"--list"});
    EXPECT_EQ(linked.exitStatus, 3);
    EXPECT_EQ(linked.out, "");
    EXPECT_NE(linked.err.find("symbolic link"), std::string::npos) << linked.err;
}

// Regression: the outcome's files were a difference of two listings of the folder, so a send
// beside other processes' sends could name their files, and a close claim a text as saved.
TEST_F(Host, EachOutcomeNamesExactlyItsOwnFileWhateverRunsBeside) {
    constexpr int kProcesses = 8, kSendsEach = 4;
    std::vector<std::string> failures(kProcesses);
    std::vector<std::thread> threads;
    for (int p = 0; p < kProcesses; ++p) {
        threads.emplace_back([&, p] {
            for (int n = 0; n < kSendsEach; ++n) {
                const std::string text = "text of process " + std::to_string(p) + ", send " +
                                         std::to_string(n) + "\n" + std::string(4096 * n, 'x');
                const auto path =
                    inputs_.path() / ("in-" + std::to_string(p) + "-" + std::to_string(n));
                testing_support::writeFile(path, text);
                // Every other process also closes a share while the others send.
                const bool close = p % 2 == 1 && n == 0;
                const ProcessResult result =
                    run({close ? "--close" : "--send", "--json", path.string()});
                const json report = json::parse(result.out, nullptr, false);
                if (report.is_discarded()) {
                    failures[p] += "no JSON: " + result.err;
                } else if (close) {
                    if (result.exitStatus != 1 || !report["files"].empty() ||
                        !report["cancelledButSaved"].is_null())
                        failures[p] += "a close claimed a saved text: " + result.out;
                } else if (result.exitStatus != 0 || report["files"].size() != 1 ||
                           readFile(report["files"][0].get<std::string>()) != text) {
                    failures[p] += "send " + std::to_string(n) + " reported " + result.out;
                }
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (int p = 0; p < kProcesses; ++p)
        EXPECT_EQ(failures[p], "") << "process " << p;
    EXPECT_EQ(testing_support::entriesOf(importFolder()).size(),
              std::size_t(kProcesses * kSendsEach - kProcesses / 2));
}

// Failures of every kind end with a message on standard error, the documented status, nothing
// on standard output (unless JSON was asked for and the share ended), and nothing left behind.
TEST_F(Host, EveryFailureHasAMessageAStatusAndNoStrayOutput) {
    const std::string host = QUORVANE_HOST;
    const auto big = inputs_.path() / "big";
    testing_support::writeFile(big, std::string(1 << 20, 'b'));
    const auto small = inputs_.path() / "small";
    testing_support::writeFile(small, "small text\n");
    struct Row {
        const char* name;
        std::string script;  // run by /bin/sh with $HOST set
        int status;
        const char* message;  // on standard error
        bool jsonOut;         // standard output holds the JSON outcome
    };
    const Row rows[] = {
        {"random bytes are refused at once", "exec \"$HOST\" --send /dev/urandom", 2,
         "not UTF-8 text (invalid byte at offset ", false},
        {"endless input stops at the cap", "exec \"$HOST\" --send --max-size 1M - </dev/zero", 2,
         "larger than the size cap of 1 MiB", false},
        {"a file over the cap is refused unread",
         "exec \"$HOST\" --send --max-size=512K " + big.string(), 2, "size cap", false},
        {"a pipe over the cap", "cat " + big.string() + " | \"$HOST\" --send --max-size 4k -", 2,
         "size cap of 4 KiB", false},
        {"a file-size limit fails the write",
         "ulimit -f 100; exec \"$HOST\" --send --json " + big.string(), 3, "", true},
        {"a file-size limit, in words", "ulimit -f 100; exec \"$HOST\" --send " + big.string(), 3,
         "Not sent: ", false},
        {"a full output", "exec \"$HOST\" --send --json " + small.string() + " >/dev/full", 6,
         "the text was sent all the same, as /", false},
        {"a closed output", "exec \"$HOST\" --send " + small.string() + " >&-", 6,
         "Bad file descriptor; the text was sent all the same, as /", false},
        {"a full output for a listing", "exec \"$HOST\" --list >/dev/full", 6,
         "cannot write to standard output", false},
        // The reader is gone long before the host, which waits for its text, writes.
        {"a closed pipe",
         "{ (sleep 0.3; cat " + small.string() +
             ") | \"$HOST\" --send -; echo \"status $?\" >&2; } | true; exit 0",
         -1, "Broken pipe; the text was sent all the same, as /", false},
        {"a plain cancel", "exec \"$HOST\" --close " + small.string(), 1, "Cancelled: nothing",
         false},
        // A closed standard input holds /dev/null, which must never pass for an empty text.
        {"a closed standard input", "exec \"$HOST\" --send - <&-", 2, "standard input is closed",
         false},
        {"a closed standard input, no FILE", "exec \"$HOST\" --send --json <&-", 2,
         "standard input is closed", false},
    };
    for (const Row& row : rows) {
        ProcessOptions options;
        options.environment["QUORVANE_CONTAINER_ROOT"] = root_.str();
        options.environment["HOST"] = host;
        const std::filesystem::path stderrCopy = inputs_.path() / "stderr";
        const ProcessResult result = runProcess(
            "/bin/sh", {"-c", "(" + row.script + ") 2>" + stderrCopy.string() + "; echo $? >&2"},
            options);
        const std::string err = readFile(stderrCopy);
        if (row.status >= 0) {
            EXPECT_EQ(result.err, std::to_string(row.status) + "\n") << row.name << ": " << err;
        }
        EXPECT_NE(err.find(row.message), std::string::npos) << row.name << ": " << err;
        if (row.status < 0) {
            EXPECT_NE(err.find("status 6"), std::string::npos) << row.name << ": " << err;
        }
        EXPECT_EQ(err.find("terminate called"), std::string::npos) << row.name;
        if (row.jsonOut) {
            const json report = json::parse(result.out);
            EXPECT_EQ(report["outcome"], "failed") << row.name;
            EXPECT_TRUE(report["files"].empty()) << row.name;
        } else {
            EXPECT_EQ(result.out, "") << row.name;
        }
    }
    // Only the sends whose output failed saved anything.
    for (const auto& entry : testing_support::entriesOf(importFolder()))
        EXPECT_EQ(readFile(importFolder() / entry), "small text\n") << entry;
}

// Whoever can write the folder of containers may plant the group's container as a link to
// another folder of the person's: a send must not change that folder, nor list another user's.
TEST_F(Host, APlantedLinkOrAnotherUsersFolderIsNeverUsed) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "planting as another user needs root to switch users";
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody)
        GTEST_SKIP() << "no user 'nobody' to plant as";
    const auto shared = root_.path() / "shared";
    std::filesystem::create_directory(shared);
    ::chmod(root_.str().c_str(), 0755);
    ::chmod(shared.c_str(), 01777);  // like /tmp: anyone may add entries
    const auto own = inputs_.path() / "own";
    std::filesystem::create_directory(own);
    ::chmod(inputs_.str().c_str(), 0755);
    ::chmod(own.c_str(), 0755);
    const auto planted = shared / "group.app.quorvane.teleprompter";
    const pid_t planter = ::fork();
    if (planter == 0) {
        const bool dropped = ::setgid(nobody->pw_gid) == 0 && ::setuid(nobody->pw_uid) == 0;
        ::_exit(dropped && ::symlink(own.c_str(), planted.c_str()) == 0 ? 0 : 1);
    }
    int planterStatus = 0;
    ::waitpid(planter, &planterStatus, 0);
    ASSERT_TRUE(WIFEXITED(planterStatus) && WEXITSTATUS(planterStatus) == 0);

    testing_support::writeFile(inputs_.path() / "note", "never through a link");
    const ProcessResult sent =
        run({"--send", (inputs_.path() / "note").string()}, std::nullopt, shared.string());
    EXPECT_EQ(sent.exitStatus, 3);
    EXPECT_NE(sent.err.find(planted.string() + " is a symbolic link"), std::string::npos)
        << sent.err;
    EXPECT_EQ(testing_support::modeOf(own), 0755u);
    EXPECT_TRUE(testing_support::entriesOf(own).empty());
    const ProcessResult listedThroughLink = run({"--list"}, std::nullopt, shared.string());
    EXPECT_EQ(listedThroughLink.exitStatus, 3);
    EXPECT_EQ(listedThroughLink.out, "");

    // Another user's import folder, with their entries in it: neither listed nor written.
    std::filesystem::create_directories(importFolder());
    testing_support::writeFile(importFolder() / "planted", "");
    for (const auto& folder : {importFolder(), importFolder() / "planted"})
        ASSERT_EQ(::chown(folder.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    const ProcessResult listed = run({"--list"});
    EXPECT_EQ(listed.exitStatus, 3);
    EXPECT_EQ(listed.out, "");
    EXPECT_NE(listed.err.find(importFolder().string() + " belongs to another user"),
              std::string::npos)
        << listed.err;
    const ProcessResult refused = run({"--send", (inputs_.path() / "note").string()});
    EXPECT_EQ(refused.exitStatus, 3);
    EXPECT_EQ(testing_support::entriesOf(importFolder()), std::vector<std::string>{"planted"});
}

// A signal that comes once the text has its name cannot stop the send: it waits for the report,
// and the status is the share's. One that comes before ends the program with nothing saved.
TEST_F(Host, ASignalAfterTheTextIsSavedWaitsForItsReport) {
    testing_support::writeFile(inputs_.path() / "note", "saved, then signalled");
    ProcessOptions options = testing_support::preloading({}, QUORVANE_PAUSE_AFTER_LINK);
    options.environment["QUORVANE_CONTAINER_ROOT"] = root_.str();
    options.environment["HOST"] = QUORVANE_HOST;
    options.environment["FOLDER"] = importFolder().string();
    options.environment["NOTE"] = (inputs_.path() / "note").string();
    options.environment["QUORVANE_PAUSE_AFTER_LINK_MS"] = "1500";
    for (const char* signal : {"TERM", "HUP"}) {
        for (const char* form : {"", "--json"}) {
            std::filesystem::remove_all(root_.path() / "group.app.quorvane.teleprompter");
            // The send pauses after the link (the preloaded library): the signal lands there.
            const std::string script = std::string("\"$HOST\" --send ") + form +
                                       " \"$NOTE\" & host=$!\n"
                                       "while [ -z \"$(ls \"$FOLDER\" 2>/dev/null)\" ]; do "
                                       "sleep 0.01; done\n"
                                       "kill -" +
                                       signal + " $host; wait $host; echo \"status $?\" >&2";
            const ProcessResult result = runProcess("/bin/sh", {"-c", script}, options);
            const std::string name = std::string(signal) + " " + form;
            EXPECT_NE(result.err.find("status 0"), std::string::npos) << name << result.err;
            const auto files = testing_support::entriesOf(importFolder());
            ASSERT_EQ(files.size(), 1u) << name;
            EXPECT_NE(result.out.find((importFolder() / files[0]).string()), std::string::npos)
                << name << result.out;
        }
    }
    // Before the link: the program ends by the signal, and nothing is saved.
    std::filesystem::remove_all(root_.path() / "group.app.quorvane.teleprompter");
    const auto fifo = inputs_.path() / "slow-input";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    options.environment["FIFO"] = fifo.string();
    const ProcessResult early =
        runProcess("/bin/sh",
                   {"-c",
                    "\"$HOST\" --send <\"$FIFO\" & host=$!; exec 3>\"$FIFO\"; sleep 0.3; "
                    "kill -TERM $host; wait $host; echo \"status $?\" >&2"},
                   options);
    EXPECT_NE(early.err.find("status 143"), std::string::npos) << early.err;
    EXPECT_TRUE(testing_support::entriesOf(importFolder()).empty());
}

TEST_F(Host, WithoutMemoryTheHostSaysSoInsteadOfAborting) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitized program reserves more address space than any limit here allows";
#endif
    const auto text = inputs_.path() / "text";
    testing_support::writeFile(text, std::string(64 << 20, 't'));
    // From no room at all for the text to enough for it but not for the share's threads.
    for (const int kilobytes : {40000, 70000, 100000, 140000}) {
        ProcessOptions options;
        options.environment["QUORVANE_CONTAINER_ROOT"] = root_.str();
        const ProcessResult result =
            runProcess("/bin/sh",
                       {"-c", "ulimit -v " + std::to_string(kilobytes) + "; exec " + QUORVANE_HOST +
                                  " --send " + text.string()},
                       options);
        EXPECT_NE(result.signal, SIGABRT) << kilobytes;
        EXPECT_EQ(result.err.find("terminate called"), std::string::npos) << result.err;
        if (result.exitStatus != 0) {
            EXPECT_TRUE(result.exitStatus == 2 || result.exitStatus == 3)
                << kilobytes << " KB: " << result.exitStatus << " " << result.err;
            EXPECT_NE(result.err.find("quorvane-share: "), std::string::npos) << result.err;
        }
    }
}

TEST_F(Host, CloseCancelsWithTheExtensionsErrorAndWritesNothing) {
    testing_support::writeFile(inputs_.path() / "note", "never sent");
    const ProcessResult result = run({"--close", "--json", (inputs_.path() / "note").string()});
    EXPECT_EQ(result.exitStatus, 1);
    const json report = json::parse(result.out);
    EXPECT_EQ(report["outcome"], "cancelled");
    EXPECT_EQ(report["error"]["domain"], "QuorvaneShareExt.ShareViewController.ShareError");
    EXPECT_EQ(report["error"]["code"], 0);
    EXPECT_TRUE(report["files"].empty());
    EXPECT_FALSE(std::filesystem::exists(importFolder()));
}

TEST_F(Host, WithoutAContainerTheShareFailsAndCreatesNothing) {
    testing_support::writeFile(inputs_.path() / "not-a-folder",
                               "a file where the container root should be");
    testing_support::writeFile(inputs_.path() / "note", "would be lost");
    const ProcessResult result = run({"--send", "--json", (inputs_.path() / "note").string()},
                                     std::nullopt, (inputs_.path() / "not-a-folder").string());
    EXPECT_EQ(result.exitStatus, 3) << result.err;
    const json report = json::parse(result.out);
    EXPECT_EQ(report["outcome"], "failed");
    EXPECT_EQ(report["error"]["domain"], "QuorvaneShareExt.ShareViewController.ShareError");
    EXPECT_EQ(report["error"]["code"], 1);
    EXPECT_FALSE(report["error"]["underlying"].is_null());
    EXPECT_TRUE(report["files"].empty());
    EXPECT_EQ(readFile(inputs_.path() / "not-a-folder"),
              "a file where the container root should be");
}

TEST_F(Host, RefusesInputItCannotShare) {
    testing_support::writeFile(inputs_.path() / "latin1", "caf\xe9");
    const ProcessResult notUtf8 = run({"--send", (inputs_.path() / "latin1").string()});
    EXPECT_EQ(notUtf8.exitStatus, 2);
    EXPECT_NE(notUtf8.err.find("not UTF-8"), std::string::npos) << notUtf8.err;
    EXPECT_NE(notUtf8.err.find("offset 3"), std::string::npos) << notUtf8.err;

    const ProcessResult fromStdin = run({"--send", "-"}, std::string("\xc0\xaf overlong"));
    EXPECT_EQ(fromStdin.exitStatus, 2);

    const ProcessResult missing = run({"--send", (inputs_.path() / "no-such-note.txt").string()});
    EXPECT_EQ(missing.exitStatus, 2);
    EXPECT_NE(missing.err.find("no-such-note.txt"), std::string::npos) << missing.err;
    EXPECT_FALSE(std::filesystem::exists(importFolder())) << "nothing is written for refused input";
}

TEST_F(Host, ReadsStandardInput) {
    const ProcessResult result = run({"--send", "--json", "-"}, std::string("from a pipe\n"));
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    const json report = json::parse(result.out);
    EXPECT_EQ(readFile(report["files"][0].get<std::string>()), "from a pipe\n");

    // Without a FILE, standard input is the text of every share, with --list or --json too:
    // the piped text is saved and listed, never dropped.
    const ProcessResult listed = run({"--send", "--list"}, std::string("sent and listed"));
    ASSERT_EQ(listed.exitStatus, 0) << listed.err;
    const std::string path = listed.out.substr(0, listed.out.find('\n'));
    EXPECT_EQ(readFile(path), "sent and listed");
    EXPECT_NE(listed.out.find(path, path.size()), std::string::npos) << listed.out;
    const ProcessResult both = run({"--send", "--json", "--list"}, std::string("as JSON"));
    ASSERT_EQ(both.exitStatus, 0) << both.err;
    const json bothReport = json::parse(both.out);
    ASSERT_EQ(bothReport["files"].size(), 1u);
    EXPECT_EQ(readFile(bothReport["files"][0].get<std::string>()), "as JSON");
    EXPECT_EQ(bothReport["importFolder"].size(), 3u);
}

// A cap means exactly that many bytes, whatever its size, from a file and from a pipe: a text
// within it is saved whole, one over it is refused and nothing is saved, never cut or emptied.
TEST_F(Host, EverySizeCapMeansExactlyThatCap) {
    struct Row {
        std::string cap;
        std::string text;
        int status;
    };
    const std::string euros = [] {
        std::string text;
        for (int i = 0; i < 3 << 20; ++i)
            text += "\xe2\x82\xac";  // 9 MiB of three-byte sequences, across many pieces
        return text;
    }();
    const Row rows[] = {
        {"0", "", 0},
        {"0", "x", 2},
        {"1", "x", 0},
        {"1", "xy", 2},
        {"18446744073709551615", "no cap in practice", 0},
        {"17179869183G", "the largest in gibibytes", 0},
        {"9M", euros, 0},
        {"9437183", euros, 2},
        {"18446744073709551616", "x", 2},
        {"99999999999999999999G", "x", 2},
        {"1Q", "x", 2},
        {"-1", "x", 2},
    };
    const auto input = inputs_.path() / "capped";
    for (const Row& row : rows) {
        testing_support::writeFile(input, row.text);
        for (const bool piped : {false, true}) {
            const std::string name = row.cap + (piped ? " from a pipe" : " from a file");
            const auto before = testing_support::entriesOf(importFolder());
            const ProcessResult result =
                piped ? run({"--send", "--json", "--max-size", row.cap}, row.text)
                      : run({"--send", "--json", "--max-size", row.cap, input.string()});
            ASSERT_EQ(result.exitStatus, row.status) << name << ": " << result.err;
            if (row.status != 0) {
                EXPECT_EQ(testing_support::entriesOf(importFolder()), before) << name;
                continue;
            }
            const json report = json::parse(result.out);
            ASSERT_EQ(report["files"].size(), 1u) << name;
            EXPECT_TRUE(readFile(report["files"][0].get<std::string>()) == row.text) << name;
        }
    }
    // Not UTF-8 far into a piped text: the offset counts from the start, across the pieces.
    const ProcessResult late = run({"--send", "-"}, euros + "\xff");
    EXPECT_EQ(late.exitStatus, 2);
    EXPECT_NE(late.err.find("offset " + std::to_string(euros.size())), std::string::npos)
        << late.err;
}

TEST_F(Host, UsageMistakesAreExplained) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"note.txt"}, "--send or --close"},
        {{"--send", "--close", "note.txt"}, "cannot be given together"},
        {{"--frobnicate"}, "unknown option '--frobnicate'"},
        {{"--appearance", "sepia", "-"}, "unknown appearance 'sepia'"},
        {{"--text-size", "huge", "-"}, "unknown text size 'huge'"},
        {{"--platform-version", "twelve", "-"}, "not a platform version"},
        {{"--send", "a", "b"}, "only one input"},
        {{"--json=yes", "-"}, "takes no value"},
        // Names from a glob or a file manager are anyone's: what a terminal would act on is
        // shown quoted, never written to it.
        {{"--send", "a", "b\x1b]0;T\x07"}, "(got 'a' and $'b\\e]0;T\\x07')"},
        {{"--frobnicate\x1b[2J"}, "unknown option $'--frobnicate\\e[2J'"},
        {{"--max-size", "1\x9b" "31m", "-"}, "$'1\\x9B31m' is not a size"},
    };
    for (const auto& [arguments, expected] : cases) {
        const ProcessResult result = run(arguments, std::string("x"));
        EXPECT_EQ(result.exitStatus, 2) << expected;
        EXPECT_NE(result.err.find(expected), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("--help"), std::string::npos) << result.err;
        EXPECT_EQ(result.err.find('\x1b'), std::string::npos) << result.err;
    }
    for (const std::string name : {"gone\x1b[31m", "bad\x1b[2J"}) {
        testing_support::writeFile(inputs_.path() / "bad\x1b[2J", "\xff");
        const ProcessResult result = run({"--send", (inputs_.path() / name).string()});
        EXPECT_EQ(result.exitStatus, 2) << result.err;
        EXPECT_NE(result.err.find("\\e["), std::string::npos) << result.err;
        EXPECT_EQ(result.err.find('\x1b'), std::string::npos) << result.err;
    }
    const ProcessResult help = run({"--help"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_NE(help.out.find("Exit status:"), std::string::npos);
    const ProcessResult version = run({"--version"});
    EXPECT_EQ(version.exitStatus, 0);
    EXPECT_EQ(version.out.rfind("quorvane-share ", 0), 0u);
}

TEST_F(Host, AMissingOrBrokenBundleIsReported) {
    const ProcessResult result =
        run({"--send", "--bundle", (inputs_.path() / "nowhere").string(), "-"}, std::string("x"));
    EXPECT_EQ(result.exitStatus, 4);
    EXPECT_NE(result.err.find("nowhere"), std::string::npos) << result.err;
}

TEST_F(Host, WordsForPeople) {
    testing_support::writeFile(inputs_.path() / "note", "words");
    const ProcessResult result = run({"--send", (inputs_.path() / "note").string()});
    EXPECT_EQ(result.exitStatus, 0);
    // Standard output carries the path alone, for p=$(quorvane-share --send f); the words go
    // to standard error, as "Cancelled" does.
    EXPECT_TRUE(std::regex_match(result.out, std::regex("^/.*/imported/[-0-9A-F]{36}\n$")))
        << result.out;
    EXPECT_EQ(result.err, "Sent to the teleprompter.\n");
}

}  // namespace
