// Cost of the attributed-text transforms against the text's length and its number of runs.
//
// Expected: the time per transform does not grow with the length (the characters are shared,
// never copied) and grows by at most about 0.1 microseconds per run. Counters: "per_run" is
// the time per transform divided by the runs.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>

#include "platform/foundation/AttributedText.h"
#include "styling/FontSize.h"
#include "styling/TextColor.h"

namespace {

using platform::AttributedText;
using platform::AttributeValue;
using platform::Font;
using platform::MutableAttributedText;
using platform::RgbaColor;
using platform::String;

// Calls `edit(i, range)` for each of `runs` equal ranges over `length` bytes (the last takes
// the rest).
template <typename Edit>
void forEachRun(std::int64_t length, std::int64_t runs, Edit edit) {
    const std::uint64_t step = static_cast<std::uint64_t>(length / runs);
    for (std::int64_t i = 0; i < runs; ++i) {
        const std::uint64_t start = static_cast<std::uint64_t>(i) * step;
        const std::uint64_t size =
            i + 1 == runs ? static_cast<std::uint64_t>(length) - start : step;
        edit(static_cast<std::size_t>(i), platform::Range{start, size});
    }
}

// A text of `length` bytes with `runs` alternating colour and font runs and a paragraph style
// on every other run, made once per shape.
const AttributedText& sampleText(std::int64_t length, std::int64_t runs) {
    static std::map<std::pair<std::int64_t, std::int64_t>, AttributedText> cache;
    auto& slot = cache[{length, runs}];
    if (slot.length() != 0)
        return slot;
    std::string characters(static_cast<std::size_t>(length), 'x');
    for (std::size_t i = 79; i < characters.size(); i += 80)
        characters[i] = '\n';
    MutableAttributedText text(String(std::move(characters)));
    const auto colours = std::array{AttributeValue::make(RgbaColor::redColor()),
                                    AttributeValue::make(RgbaColor::blueColor())};
    const auto fonts = std::array{AttributeValue::make(Font::systemFontOfSize(12)),
                                  AttributeValue::make(Font::boldSystemFontOfSize(20))};
    const auto style =
        AttributeValue::make(platform::ParagraphStyle{platform::TextAlignment::center});
    forEachRun(length, runs, [&](std::size_t i, platform::Range range) {
        text.addAttribute(platform::NSForegroundColorAttributeName, colours[i % 2], range);
        text.addAttribute(platform::NSFontAttributeName, fonts[i % 2], range);
        if (i % 2)
            text.addAttribute(platform::NSParagraphStyleAttributeName, style, range);
    });
    slot = text.copy();
    return slot;
}

// The same shape with colours the colour-matched transforms act on half the time: foreground
// alternating black (dark) and blue, background alternating white at half alpha and #feffff.
const AttributedText& sampleColourText(std::int64_t length, std::int64_t runs) {
    static std::map<std::pair<std::int64_t, std::int64_t>, AttributedText> cache;
    auto& slot = cache[{length, runs}];
    if (slot.length() != 0)
        return slot;
    MutableAttributedText text = sampleText(length, runs).mutableCopy();
    const auto foregrounds = std::array{AttributeValue::make(RgbaColor::blackColor()),
                                        AttributeValue::make(RgbaColor::blueColor())};
    const auto backgrounds = std::array{AttributeValue::make(RgbaColor(1, 1, 1, 0.5)),
                                        AttributeValue::make(RgbaColor(0.999, 1, 1, 1))};
    forEachRun(length, runs, [&](std::size_t i, platform::Range range) {
        text.addAttribute(platform::NSForegroundColorAttributeName, foregrounds[i % 2], range);
        text.addAttribute(platform::NSBackgroundColorAttributeName, backgrounds[i % 2], range);
    });
    slot = text.copy();
    return slot;
}

template <typename Transform>
void runTransform(benchmark::State& state, Transform transform,
                  const AttributedText& (*sample)(std::int64_t, std::int64_t) = sampleText) {
    const AttributedText& text = sample(state.range(0), state.range(1));
    for (auto _ : state) {
        AttributedText result = transform(text);
        benchmark::DoNotOptimize(result);
    }
    state.counters["per_run"] = benchmark::Counter(
        static_cast<double>(state.range(1)),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void ForegroundColor(benchmark::State& state) {
    runTransform(state, [](const AttributedText& t) {
        return quorvane::attributedStringForegroundColor(t, RgbaColor::whiteColor());
    });
}
void ForegroundColorKeepStyles(benchmark::State& state) {
    runTransform(state, [](const AttributedText& t) {
        return quorvane::attributedStringForegroundColor(t, RgbaColor::whiteColor(),
                                                         quorvane::ClearParagraphStyle::no);
    });
}
void WithFontSize(benchmark::State& state) {
    runTransform(state, [](const AttributedText& t) {
        return quorvane::attributedStringWithFontSize(t, 17);
    });
}
void WithParagraphStyle(benchmark::State& state) {
    runTransform(state, [](const AttributedText& t) {
        return quorvane::attributedStringWithParagraphStyle(t, platform::ParagraphStyle{});
    });
}

void RemovingBackgroundColor(benchmark::State& state) {
    runTransform(
        state,
        [](const AttributedText& t) {
            return quorvane::attributedStringByRemovingBackgroundColor(t, RgbaColor::whiteColor());
        },
        sampleColourText);
}
void ReplacingForegroundColorWith(benchmark::State& state) {
    runTransform(
        state,
        [](const AttributedText& t) {
            return quorvane::attributedStringByReplacingForegroundColorWith(
                t, RgbaColor::whiteColor(), [](double hue, double, double) { return hue >= 180; });
        },
        sampleColourText);
}
void ReplacingDarkForegroundColorWith(benchmark::State& state) {
    runTransform(
        state,
        [](const AttributedText& t) {
            return quorvane::attributedStringByReplacingDarkForegroundColorWith(
                t, RgbaColor::whiteColor());
        },
        sampleColourText);
}

// Lengths 1 KB to 100 MB at one run and at 1,000 runs; runs 1 to 10,000 at 1 MB.
void shapes(benchmark::internal::Benchmark* benchmark) {
    for (std::int64_t length : {1LL << 10, 1LL << 20, 100LL << 20})
        benchmark->Args({length, 1});
    for (std::int64_t length : {1LL << 10, 1LL << 20, 100LL << 20})
        benchmark->Args({length, 1000});
    for (std::int64_t runs : {10, 100, 10000})
        benchmark->Args({1LL << 20, runs});
    benchmark->ArgNames({"length", "runs"})->Unit(benchmark::kMicrosecond);
}

BENCHMARK(ForegroundColor)->Apply(shapes);
BENCHMARK(ForegroundColorKeepStyles)->Apply(shapes);
BENCHMARK(WithFontSize)->Apply(shapes);
BENCHMARK(WithParagraphStyle)->Apply(shapes);
BENCHMARK(RemovingBackgroundColor)->Apply(shapes);
BENCHMARK(ReplacingForegroundColorWith)->Apply(shapes);
BENCHMARK(ReplacingDarkForegroundColorWith)->Apply(shapes);

}  // namespace

BENCHMARK_MAIN();
