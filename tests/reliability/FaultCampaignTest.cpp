// Every system call of a send, failed in turn: a whole send through the controller with its Nth
// system call failing, for every N the send makes, with EIO, ENOSPC and EINTR, with writes cut
// short, through unnamed files and through the staging folder, into a fresh container and
// into an existing folder. Each run must end one of two ways: the request completed and the
// folder holds exactly one new file with exactly the text's bytes, or the request failed with
// writeFailed and nothing new is left in the folder or the staging folder. A failed write or
// file sync can never end as completed, an interrupted write is retried, and no run leaks a
// descriptor.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <regex>
#include <set>

#include "platform/foundation/FileManager.h"
#include "share/ShareFixture.h"
#include "storage/ImportFolder.h"
#include "support/FaultySystemCalls.h"
#include "support/TemporaryFolder.h"

namespace {

using platform::ExtensionContext;
using platform::FileManager;
using testing_support::Call;
using testing_support::FaultySystemCalls;
using testing_support::TemporaryFolder;

// Long enough that cut-short writes take many calls; not ASCII only.
std::string campaignText() {
    std::string text = "Fault campaign \xE2\x80\x94 line one\r\n";
    while (text.size() < 48 * 1024)
        text += "Der Sprecher liest: \xC3\xA9t\xC3\xA9, \xF0\x9F\x8E\xAC, " +
                std::to_string(text.size()) + "\n";
    return text;
}

std::size_t openDescriptors() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

struct Setting {
    const char* name;
    bool staging;         // unnamed files refused: the staging folder is used
    bool existingFolder;  // an earlier send made the folders (and left its file)
};

struct Fault {
    const char* name;
    int error;
    bool shortWrites;
};

struct RunResult {
    std::optional<ExtensionContext::Ending> outcome;
    std::vector<Call> calls;
    std::set<std::string> newFiles;
    std::vector<std::string> staged;
    std::size_t leakedDescriptors = 0;
};

class FaultCampaign : public ::testing::Test {
  protected:
    void TearDown() override {
        FileManager::defaultManager().setContainerRoot("");
        FileManager::defaultManager().setReachableGroups({});
    }

    static std::filesystem::path regular(const TemporaryFolder& root) {
        return root.path() / quorvane::kApplicationGroupIdentifier / "regular";
    }

    // One whole send of `text` into a fresh container, after `arrange` set up the calls.
    static RunResult send(const Setting& setting, const std::string& text,
                          const std::function<void(FaultySystemCalls&)>& arrange) {
        TemporaryFolder root;
        FileManager::defaultManager().setContainerRoot(root.str());
        FileManager::defaultManager().setReachableGroups({quorvane::kApplicationGroupIdentifier});
        std::set<std::string> before;
        if (setting.existingFolder) {
            FaultySystemCalls clean;
            clean.refuseUnnamedFiles(setting.staging);
            platform::ScopedSystemCalls scoped(clean);
            EXPECT_TRUE(quorvane::writeCapturedText(platform::String("earlier")).succeeded());
            for (const auto& name : testing_support::entriesOf(regular(root) / "imported"))
                before.insert(name);
        }

        RunResult result;
        const std::size_t descriptorsBefore = openDescriptors();
        {
            auto context = testing_support::contextWith({testing_support::plainTextItem(text)});
            const auto controller = testing_support::presentController(context);
            FaultySystemCalls calls;
            calls.refuseUnnamedFiles(setting.staging);
            arrange(calls);
            platform::ScopedSystemCalls scoped(calls);
            EXPECT_TRUE(controller->navigationItem().rightBarButtonItem()->tap());
            EXPECT_TRUE(platform::MainRunLoop::runUntil(
                [&] { return context->outcome().has_value(); }, std::chrono::seconds(30)));
            testing_support::drain();
            result.outcome = context->outcome();
            result.calls = calls.calls();
        }
        result.leakedDescriptors = openDescriptors() - descriptorsBefore;
        for (const auto& name : testing_support::entriesOf(regular(root) / "imported")) {
            if (!before.count(name))
                result.newFiles.insert(name);
        }
        result.staged = testing_support::entriesOf(regular(root) / ".imported-staging");
        for (const std::string& name : result.newFiles) {
            const auto path = regular(root) / "imported" / name;
            EXPECT_EQ(testing_support::readFile(path), text) << "a new file holds the text exactly";
            struct ::stat status {};
            EXPECT_EQ(::stat(path.c_str(), &status), 0);
            EXPECT_EQ(status.st_mode & 0777, 0600u) << "a new file is owner-only";
        }
        return result;
    }
};

TEST_F(FaultCampaign, EverySystemCallOfASendFailedInTurnEndsWithTheExactFileOrAReportedFailure) {
    // The campaign is about how the code meets failures, not about the disk: on a RAM disk its
    // hundreds of synced sends stay quick. (Real disks: RealWorldTest, KillTest.)
    if (::access("/dev/shm", W_OK) == 0)
        ::setenv("TMPDIR", "/dev/shm", 1);
    const Setting settings[] = {
        {"unnamed file, fresh container", false, false},
        {"unnamed file, existing folder", false, true},
        {"staging folder, fresh container", true, false},
        {"staging folder, existing folder", true, true},
    };
    const Fault faults[] = {
        {"EIO", EIO, false},
        {"ENOSPC", ENOSPC, false},
        {"EINTR", EINTR, false},
        {"EIO with writes cut short", EIO, true},
    };
    const std::string text = campaignText();
    const std::regex uuidName(
        "[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    std::size_t faultPoints = 0;

    for (const Setting& setting : settings) {
        for (const Fault& fault : faults) {
            SCOPED_TRACE(std::string(setting.name) + ", " + fault.name);
            // A clean send first: it must complete, and it tells how many calls a send makes.
            const RunResult clean = send(setting, text, [&](FaultySystemCalls& calls) {
                calls.setShortWrites(fault.shortWrites);
            });
            ASSERT_TRUE(clean.outcome);
            ASSERT_EQ(clean.outcome->kind, ExtensionContext::EndingKind::completed);
            ASSERT_EQ(clean.newFiles.size(), 1u);
            EXPECT_TRUE(std::regex_match(*clean.newFiles.begin(), uuidName));
            EXPECT_TRUE(clean.staged.empty());
            EXPECT_EQ(clean.leakedDescriptors, 0u);
            // The staging folder's own sync after the move is the one call whose failure the
            // new file's safety does not depend on.
            std::size_t lastSync = 0;
            for (std::size_t i = 0; i < clean.calls.size(); ++i) {
                if (clean.calls[i] == Call::fsync)
                    lastSync = i + 1;
            }

            for (std::size_t n = 1; n <= clean.calls.size(); ++n) {
                const Call failed = clean.calls[n - 1];
                SCOPED_TRACE("call " + std::to_string(n) + " (" +
                             testing_support::callName(failed) + ") fails");
                const RunResult run = send(setting, text, [&](FaultySystemCalls& calls) {
                    calls.setShortWrites(fault.shortWrites);
                    calls.failCall(n, fault.error);
                });
                ++faultPoints;
                ASSERT_TRUE(run.outcome);
                EXPECT_TRUE(run.staged.empty()) << "nothing is left in the staging folder";
                // A failed close is the seam's own doing: the descriptor is not closed.
                EXPECT_EQ(run.leakedDescriptors, failed == Call::close ? 1u : 0u);
                if (run.outcome->kind == ExtensionContext::EndingKind::completed) {
                    ASSERT_EQ(run.newFiles.size(), 1u) << "a completed send leaves one file";
                    EXPECT_TRUE(std::regex_match(*run.newFiles.begin(), uuidName));
                    EXPECT_FALSE(failed == Call::write && fault.error != EINTR)
                        << "a failed write never ends as completed";
                    EXPECT_FALSE(failed == Call::fsync && !(setting.staging && n == lastSync))
                        << "a failed sync never ends as completed";
                } else {
                    EXPECT_EQ(run.outcome->kind, ExtensionContext::EndingKind::cancelled);
                    ASSERT_TRUE(run.outcome->error);
                    EXPECT_EQ(run.outcome->error->domain,
                              "QuorvaneShareExt.ShareViewController.ShareError");
                    EXPECT_EQ(run.outcome->error->code, 1) << "writeFailed";
                    EXPECT_TRUE(run.outcome->error->underlying);
                    EXPECT_TRUE(run.newFiles.empty()) << "a failed send leaves no file";
                    EXPECT_FALSE(failed == Call::write && fault.error == EINTR)
                        << "an interrupted write is retried";
                }
            }
        }
    }
    RecordProperty("faultPoints", static_cast<int>(faultPoints));
    std::printf("fault points exercised: %zu\n", faultPoints);
}

}  // namespace
