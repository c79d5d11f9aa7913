// Replays every checked-in seed of every fuzz target through its entry function, built without
// libFuzzer, so the seeds and the promises the targets check stay valid in the everyday build.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "FuzzSupport.h"

namespace {

struct Target {
    const char* name;  // the folder of its seeds under fuzz/corpus
    int (*oneInput)(const std::uint8_t*, std::size_t);
};

constexpr Target kTargets[] = {
    {"title_line", fuzzing::titleLineOneInput},
    {"attributed_text", fuzzing::attributedTextOneInput},
    {"color_helpers", fuzzing::colorHelpersOneInput},
    {"property_list", fuzzing::propertyListOneInput},
    {"interface_file", fuzzing::interfaceFileOneInput},
    {"host_options", fuzzing::hostOptionsOneInput},
    {"remote_command", fuzzing::remoteCommandOneInput},
};

[[noreturn]] void throwFailure(const std::string& message) {
    throw fuzzing::CheckFailure{message};
}

TEST(FuzzCorpus, EverySeedOfEveryTargetKeepsItsPromises) {
    fuzzing::gFailureHandler = throwFailure;
    for (const Target& target : kTargets) {
        const std::filesystem::path folder =
            std::filesystem::path(QUORVANE_FUZZ_CORPUS_DIR) / target.name;
        int seeds = 0;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            std::ifstream file(entry.path(), std::ios::binary);
            std::ostringstream contents;
            contents << file.rdbuf();
            const std::string bytes = contents.str();
            try {
                target.oneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
            } catch (const fuzzing::CheckFailure& failure) {
                ADD_FAILURE() << entry.path() << ": " << failure.message;
            }
            ++seeds;
        }
        EXPECT_GT(seeds, 0) << target.name << " has no seeds";
    }
    fuzzing::gFailureHandler = nullptr;
}

}  // namespace
