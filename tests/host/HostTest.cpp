// The share host end to end: the built program shares real text into a temporary container.
#include <gtest/gtest.h>

#include <regex>

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
         "Caf\xc3\xa9 cr\xc3\xa8me br\xc3\xbbl\xc3\xa9" "e, \xc3\x85ngstr\xc3\xb6m"},
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

TEST_F(Host, ListKeepsHiddenEntriesAndSubfolders) {
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
    };
    for (const auto& [arguments, expected] : cases) {
        const ProcessResult result = run(arguments, std::string("x"));
        EXPECT_EQ(result.exitStatus, 2) << expected;
        EXPECT_NE(result.err.find(expected), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("--help"), std::string::npos) << result.err;
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
    EXPECT_NE(result.out.find("Sent to the teleprompter."), std::string::npos);
    EXPECT_EQ(result.out.find("\033["), std::string::npos)
        << "no colour codes when the output is not a terminal";
}

}  // namespace
