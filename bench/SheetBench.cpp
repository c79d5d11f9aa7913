// The terminal sheet's first frame of a big text, and its jump to the end. The text is laid
// out as the share shows it: a bold title line at the large-title size, then the body in the
// body size and the appearance colour. A frame wraps only the lines it shows, reading them
// where the text's pieces are, so its cost follows the screen, not the text.
#include <benchmark/benchmark.h>

#include <map>
#include <string>

#include "host/screens/TextPane.h"
#include "platform/foundation/AttributeValue.h"
#include "platform/foundation/AttributedText.h"
#include "platform/foundation/Font.h"
#include "platform/foundation/TextAttributeKey.h"

namespace {

using platform::AttributeValue;
using platform::Font;

enum Shape : std::int64_t { lines = 0, oneParagraph = 1 };

// `size` bytes of body: lines of about 80 characters, or one paragraph without a line break.
const platform::AttributedText& sampleText(std::int64_t size, std::int64_t shape) {
    static std::map<std::pair<std::int64_t, std::int64_t>, platform::AttributedText> cache;
    auto& slot = cache[{size, shape}];
    if (slot.length() > 0)
        return slot;
    const std::string sentence = "Good evening, and thank you for joining us tonight. ";
    std::string body;
    body.reserve(static_cast<std::size_t>(size));
    while (body.size() < static_cast<std::size_t>(size)) {
        body += sentence;
        if (shape == lines && body.size() % 160 < sentence.size())
            body += '\n';
    }
    const platform::AttributeDictionary title{
        {platform::NSFontAttributeName, AttributeValue::make(Font::boldSystemFontOfSize(34))}};
    platform::MutableAttributedText text(platform::String("Welcome to the evening bulletin\n"),
                                         title);
    text.appendAttributedString(platform::AttributedText(
        platform::String(std::move(body)),
        {{platform::NSFontAttributeName, AttributeValue::make(Font::systemFontOfSize(17))},
         {platform::NSForegroundColorAttributeName,
          AttributeValue::make(platform::RgbaColor(1, 1, 1, 1))}}));
    slot = text.copy();
    return slot;
}

constexpr platform::EdgeInsets kInset{0, 20, 0, 20};
constexpr int kColumns = 100, kRows = 28;

// A new text in the pane: its first frame.
void FirstFrame(benchmark::State& state) {
    const auto& text = sampleText(state.range(0), state.range(1));
    const auto& palette = host::paletteFor(platform::UserInterfaceStyle::dark);
    for (auto _ : state) {
        host::TextPane pane;
        auto rows = pane.draw(text, kInset, kColumns, kRows, palette, host::ColourDepth::direct);
        benchmark::DoNotOptimize(rows);
    }
}

// End pressed on a text already shown: the frame of its last lines.
void EndFrame(benchmark::State& state) {
    const auto& text = sampleText(state.range(0), state.range(1));
    const auto& palette = host::paletteFor(platform::UserInterfaceStyle::dark);
    host::TextPane pane;
    benchmark::DoNotOptimize(
        pane.draw(text, kInset, kColumns, kRows, palette, host::ColourDepth::direct));
    for (auto _ : state) {
        pane.toEnd();
        auto rows = pane.draw(text, kInset, kColumns, kRows, palette, host::ColourDepth::direct);
        benchmark::DoNotOptimize(rows);
        pane.toStart();
        rows = pane.draw(text, kInset, kColumns, kRows, palette, host::ColourDepth::direct);
        benchmark::DoNotOptimize(rows);
    }
}

BENCHMARK(FirstFrame)
    ->ArgNames({"length", "oneParagraph"})
    ->Args({1 << 10, lines})
    ->Args({1 << 20, lines})
    ->Args({100 << 20, lines})
    ->Args({100 << 20, oneParagraph})
    ->Unit(benchmark::kMillisecond);

BENCHMARK(EndFrame)
    ->ArgNames({"length", "oneParagraph"})
    ->Args({1 << 20, lines})
    ->Args({100 << 20, lines})
    ->Args({100 << 20, oneParagraph})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
