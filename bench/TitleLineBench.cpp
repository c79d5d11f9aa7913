// Cost of the title line on long texts. The title line is found by trimming the text's ends and
// looking for the first line break, so its cost follows the first line, not the whole text: a
// 100 MB text whose first line is short costs about what a 1 KB text does, while a 100 MB text
// of one line is scanned to its end once.
#include <benchmark/benchmark.h>

#include <map>
#include <string>

#include "platform/foundation/String.h"
#include "share/TitleLine.h"

namespace {

enum Shape : std::int64_t { shortFirstLine = 0, singleLine = 1 };

// A text of `size` bytes: a short title line and lines of 80 after it, or one line of letters;
// leading and trailing space either way, for the trimming.
const platform::String& sampleText(std::int64_t size, std::int64_t shape) {
    static std::map<std::pair<std::int64_t, std::int64_t>, platform::String> cache;
    auto& slot = cache[{size, shape}];
    if (slot.size() == static_cast<std::size_t>(size))
        return slot;
    std::string text(static_cast<std::size_t>(size), 'x');
    text.replace(0, 4, "  \t ");
    text.replace(text.size() - 3, 3, " \n ");
    if (shape == shortFirstLine) {
        text.replace(4, 27, "Welcome to the evening news");
        for (std::size_t i = 31; i + 3 < text.size(); i += 80)
            text[i] = '\n';
    }
    slot = platform::String(std::move(text));
    return slot;
}

void TitleLine(benchmark::State& state) {
    const platform::String& text = sampleText(state.range(0), state.range(1));
    for (auto _ : state) {
        platform::String title = quorvane::titleLine(text);
        benchmark::DoNotOptimize(title);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

BENCHMARK(TitleLine)
    ->ArgNames({"length", "singleLine"})
    ->Args({1 << 10, shortFirstLine})
    ->Args({100 << 20, shortFirstLine})
    ->Args({1 << 10, singleLine})
    ->Args({100 << 20, singleLine})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
