// Attributed text against a plain model: one value (or none) per byte and key.
//
// An input is a random starting text and a sequence of operations: adding and removing
// attributes over ranges (some out of bounds), appending texts, enumerating runs while editing
// the visited run, every transform of TextColor and FontSize, nested editing groups, copies
// kept aside and later edited from. After every operation the text, every copy kept aside and
// every transform's receiver must match the model: the same bytes, and for each key the
// longest runs of equal values, in order, covering the text.
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "ReferenceColor.h"
#include "platform/foundation/AttributedText.h"
#include "styling/ColorHelpers.h"
#include "styling/FontSize.h"
#include "styling/TextColor.h"

namespace fuzzing {
namespace {

using platform::AttributedText;
using platform::AttributeValue;
using platform::AttributeValuePtr;
using platform::Font;
using platform::MutableAttributedText;
using platform::Range;
using platform::RgbaColor;
using platform::TextAttributeKey;

constexpr std::size_t kLongestText = 256;
constexpr std::size_t kKeptCopies = 4;

// ---- the model ----

// Values are equal when both are none or their contents are equal. (No value here holds a
// NaN, so a value is always equal to itself.)
bool sameValue(const AttributeValuePtr& a, const AttributeValuePtr& b) {
    if (a == b)
        return true;
    if (!a || !b)
        return !a && !b;
    return a->storage() == b->storage();
}

const std::vector<TextAttributeKey>& keys() {
    static const std::vector<TextAttributeKey> all{
        platform::NSForegroundColorAttributeName, platform::NSBackgroundColorAttributeName,
        platform::NSFontAttributeName, platform::NSParagraphStyleAttributeName,
        TextAttributeKey("QuorvaneMarker")};
    return all;
}
enum KeyIndex { kForeground, kBackground, kFont, kParagraph, kMarker, kKeyCount };

struct Model {
    std::string text;
    std::vector<AttributeValuePtr> values[kKeyCount];  // one per byte

    void set(int key, Range range, const AttributeValuePtr& value) {
        for (std::uint64_t i = range.location; i < range.end(); ++i)
            values[key][i] = value;
    }
    void append(const Model& other) {
        text += other.text;
        for (int key = 0; key < kKeyCount; ++key)
            values[key].insert(values[key].end(), other.values[key].begin(),
                               other.values[key].end());
    }
};

Model plainModel(const std::string& text) {
    Model model;
    model.text = text;
    for (auto& perKey : model.values)
        perKey.assign(text.size(), nullptr);
    return model;
}

// The longest run of `key` starting at `position` and ending by `end`.
std::uint64_t runEnd(const Model& model, int key, std::uint64_t position, std::uint64_t end) {
    std::uint64_t last = position + 1;
    while (last < end && sameValue(model.values[key][last], model.values[key][position]))
        ++last;
    return last;
}

void checkMatches(const platform::detail::AttributedTextState& text, const Model& model,
                  const char* what) {
    check(text.length() == model.text.size(), std::string(what) + ": the length");
    check(text.string() == model.text, std::string(what) + ": the characters");
    for (int key = 0; key < kKeyCount; ++key) {
        const std::vector<platform::AttributeRun> runs = text.runs(keys()[key]);
        std::uint64_t position = 0;
        for (const platform::AttributeRun& run : runs) {
            check(position < model.text.size(), std::string(what) + ": no run past the end");
            check(run.range.location == position, std::string(what) + ": runs follow each other");
            check(run.range.end() == runEnd(model, key, position, model.text.size()),
                  std::string(what) + ": each run is the longest of its value");
            check(sameValue(run.value, model.values[key][position]),
                  std::string(what) + ": each run has the model's value");
            position = run.range.end();
        }
        check(position == model.text.size(), std::string(what) + ": the runs cover the text");
    }
}

// ---- values ----

struct Palette {
    std::vector<AttributeValuePtr> colours;  // also a few values of other kinds
    std::vector<AttributeValuePtr> fonts;
    std::vector<AttributeValuePtr> styles;
    std::vector<AttributeValuePtr> markers;
};

const Palette& palette() {
    static const Palette values = [] {
        Palette p;
        for (const RgbaColor& colour :
             {RgbaColor::blackColor(), RgbaColor::whiteColor(), RgbaColor::redColor(),
              RgbaColor::blueColor(), RgbaColor(1, 1, 1, 0.5), RgbaColor(0.999, 1, 1, 1),
              RgbaColor(0.5, 0.5, 0.5, 1), RgbaColor::colorWithHue(0.6, 0.3, 0.8, 1),
              RgbaColor::colorWithHue(2.0 / 3.0, 1, 0.15, 1), RgbaColor(1.2, 0, 0.5, 1),
              RgbaColor::patternColor("stripes"), RgbaColor::redColor()}) {
            p.colours.push_back(AttributeValue::make(colour));
        }
        // Under a colour key: values of other kinds, which no colour transform may touch.
        p.colours.push_back(AttributeValue::make(platform::OpaqueValue{"NSString", "red"}));
        p.colours.push_back(AttributeValue::make(Font::systemFontOfSize(3)));
        for (const Font& font :
             {Font::systemFontOfSize(12), Font::boldSystemFontOfSize(20),
              Font("Georgia", platform::FontWeight::regular, 14), Font::systemFontOfSize(12)}) {
            p.fonts.push_back(AttributeValue::make(font));
        }
        for (const platform::ParagraphStyle& style :
             {platform::ParagraphStyle{}, platform::ParagraphStyle{platform::TextAlignment::center},
              platform::ParagraphStyle{platform::TextAlignment::right, 4, 8, 2}}) {
            p.styles.push_back(AttributeValue::make(style));
        }
        for (const char* payload : {"https://example.invalid/a", "1", ""})
            p.markers.push_back(AttributeValue::make(platform::OpaqueValue{"NSURL", payload}));
        return p;
    }();
    return values;
}

AttributeValuePtr pickValue(Bytes& in, int key) {
    const Palette& p = palette();
    const std::vector<AttributeValuePtr>& choices = key == kFont        ? p.fonts
                                                    : key == kParagraph ? p.styles
                                                    : key == kMarker    ? p.markers
                                                                        : p.colours;
    const std::uint32_t choice = in.below(static_cast<std::uint32_t>(choices.size() + 1));
    return choice == choices.size() ? nullptr : choices[choice];
}

RgbaColor pickColour(Bytes& in) {
    static const RgbaColor colours[] = {RgbaColor::blackColor(),   RgbaColor::whiteColor(),
                                        RgbaColor::redColor(),     RgbaColor(1, 1, 1, 0),
                                        RgbaColor(0.999, 1, 1, 1), RgbaColor(0.5, 0.5, 0.5, 0.2),
                                        RgbaColor(1.2, 0, 0.5, 1), RgbaColor::patternColor("dots")};
    return colours[in.below(std::size(colours))];
}

// A range inside a text of `length` bytes, or now and then one that passes its end.
Range pickRange(Bytes& in, std::uint64_t length) {
    if (in.below(16) == 0)
        return {in.below(static_cast<std::uint32_t>(length + 2)), length + 1};
    const auto a = in.below(static_cast<std::uint32_t>(length + 1));
    const auto b = in.below(static_cast<std::uint32_t>(length + 1));
    return a <= b ? Range{a, b - a} : Range{b, a - b};
}

// A small text made with initWithString:attributes:, and its model.
std::pair<AttributedText, Model> pickText(Bytes& in, std::size_t maxLength) {
    const std::string characters = in.text(maxLength);
    Model model = plainModel(characters);
    platform::AttributeDictionary attributes;
    const std::uint32_t count = in.below(4);
    for (std::uint32_t i = 0; i < count; ++i) {
        const int key = static_cast<int>(in.below(kKeyCount));
        bool taken = false;
        for (const auto& [existing, value] : attributes)
            taken = taken || existing == keys()[key];
        if (taken)
            continue;  // a dictionary holds each key once
        AttributeValuePtr value = pickValue(in, key);
        attributes.emplace_back(keys()[key], value);
        model.set(key, {0, characters.size()}, value);
    }
    return {AttributedText(platform::String(characters), attributes), std::move(model)};
}

// ---- transforms and their models ----

using ColourFilter = std::function<bool(double, double, double)>;

ColourFilter pickFilter(Bytes& in) {
    const double threshold = static_cast<double>(in.below(121)) - 10.0;
    switch (in.below(5)) {
        case 0:
            return [threshold](double hue, double, double) { return hue >= threshold * 3; };
        case 1:
            return
                [threshold](double, double saturation, double) { return saturation < threshold; };
        case 2:
            return [threshold](double, double, double lightness) { return lightness > threshold; };
        case 3:
            return [](double, double, double) { return true; };
        default:
            return [](double, double, double) { return false; };
    }
}

// The HSL components a foreground run is judged by: its colour's, or (0, 0, 0).
reference::Triple foregroundHsl(const AttributeValuePtr& value) {
    const RgbaColor* colour = value ? value->color() : nullptr;
    double r = 0, g = 0, b = 0;
    if (!colour || !colour->getRed(&r, &g, &b, nullptr))
        return {};
    const reference::Triple hsb = reference::hsbFromRgb(r, g, b);
    return reference::hslFromHsb(hsb.first, hsb.second, hsb.third);
}

std::optional<std::string> referenceHex(const RgbaColor& colour) {
    double r = 0, g = 0, b = 0;
    (void)colour.getRed(&r, &g, &b, nullptr);
    return reference::hex(r, g, b);
}

// Applies one transform chosen by the input to `text`, and the same change to `model`.
AttributedText transform(Bytes& in, const AttributedText& text, Model& model) {
    const auto clear =
        in.flag() ? quorvane::ClearParagraphStyle::yes : quorvane::ClearParagraphStyle::no;
    const std::size_t length = model.text.size();
    auto clearStyles = [&] {
        if (clear == quorvane::ClearParagraphStyle::yes)
            model.set(kParagraph, {0, length}, nullptr);
    };
    switch (in.below(8)) {
        case 0: {
            const RgbaColor colour = pickColour(in);
            model.set(kForeground, {0, length}, AttributeValue::make(colour));
            clearStyles();
            return quorvane::attributedStringForegroundColor(text, colour, clear);
        }
        case 1: {
            const RgbaColor colour = pickColour(in);
            model.set(kForeground, {0, length}, AttributeValue::make(colour));
            model.set(kParagraph, {0, length}, nullptr);
            return quorvane::attributedStringForegroundColor(text, colour);
        }
        case 2: {
            const AttributeValuePtr style = palette().styles[in.below(3)];
            model.set(kParagraph, {0, length}, style);
            return quorvane::attributedStringWithParagraphStyle(text, *style->paragraphStyle());
        }
        case 3:
        case 4: {
            static constexpr double kSizes[] = {17, 34, 0, 12.5, -4, 1e300};
            const double size = kSizes[in.below(std::size(kSizes))];
            for (AttributeValuePtr& value : model.values[kFont]) {
                const Font* font = value ? value->font() : nullptr;
                value = AttributeValue::make(font ? font->fontWithSize(size)
                                                  : Font::systemFontOfSize(size));
            }
            if (in.flag()) {
                model.set(kParagraph, {0, length}, nullptr);
                return quorvane::attributedStringWithFontSize(text, size);
            }
            clearStyles();
            return quorvane::attributedStringWithFontSize(text, size, clear);
        }
        case 5: {
            std::optional<RgbaColor> target;
            if (in.below(4) != 0)
                target = pickColour(in);
            const auto targetHex = target ? referenceHex(*target) : std::nullopt;
            for (AttributeValuePtr& value : model.values[kBackground]) {
                const RgbaColor* colour = value ? value->color() : nullptr;
                if (colour && targetHex && referenceHex(*colour) == targetHex)
                    value = nullptr;
            }
            return quorvane::attributedStringByRemovingBackgroundColor(text, target);
        }
        case 6: {
            const RgbaColor replacement = pickColour(in);
            const ColourFilter filter = pickFilter(in);
            for (AttributeValuePtr& value : model.values[kForeground]) {
                const reference::Triple hsl = foregroundHsl(value);
                if (filter(hsl.first, hsl.second, hsl.third))
                    value = AttributeValue::make(replacement);
            }
            return quorvane::attributedStringByReplacingForegroundColorWith(text, replacement,
                                                                            filter);
        }
        default: {
            const RgbaColor replacement = pickColour(in);
            for (AttributeValuePtr& value : model.values[kForeground]) {
                const reference::Triple hsl = foregroundHsl(value);
                if (reference::darkColorFilter(hsl.first, hsl.second, hsl.third))
                    value = AttributeValue::make(replacement);
            }
            return quorvane::attributedStringByReplacingDarkForegroundColorWith(text, replacement);
        }
    }
}

// ---- the run ----

struct Kept {
    AttributedText text;
    Model model;
};

// Enumerates the runs of one key over a range, checking each visit against the model and
// editing the visited run (only there, only that key) as the input says.
void enumerateAndEdit(Bytes& in, MutableAttributedText& text, Model& model) {
    const int key = static_cast<int>(in.below(kKeyCount));
    const Range range = pickRange(in, model.text.size());
    if (range.end() > model.text.size()) {
        bool refused = false;
        try {
            text.enumerateAttribute(keys()[key], range, platform::AttributeEnumerationOptions::none,
                                    [](const AttributeValuePtr&, Range, bool&) {});
        } catch (const std::out_of_range&) {
            refused = true;
        }
        check(refused, "enumerating past the end is refused");
        return;
    }
    std::uint64_t expected = range.location;
    bool stopped = false;
    text.enumerateAttribute(
        keys()[key], range, platform::AttributeEnumerationOptions::none,
        [&](const AttributeValuePtr& value, Range run, bool& stop) {
            check(!stopped, "no visit after stop");
            check(run.location == expected && run.length > 0,
                  "each visit starts where the last one ended");
            check(run.end() == runEnd(model, key, expected, range.end()),
                  "each visit is the longest run from there within the range");
            check(sameValue(value, model.values[key][expected]), "each visit has its value");
            expected = run.end();
            const Range part = [&] {
                const auto a = in.below(static_cast<std::uint32_t>(run.length + 1));
                const auto b = in.below(static_cast<std::uint32_t>(run.length + 1));
                return Range{run.location + std::min(a, b), a > b ? a - b : b - a};
            }();
            switch (in.below(5)) {
                case 0:
                    text.removeAttribute(keys()[key], run);
                    model.set(key, run, nullptr);
                    break;
                case 1:
                case 2: {
                    const AttributeValuePtr replacement = pickValue(in, key);
                    text.addAttribute(keys()[key], replacement, part);
                    model.set(key, part, replacement);
                    break;
                }
                case 3:
                    stop = stopped = true;
                    break;
                default:
                    break;
            }
        });
    check(stopped || expected == range.end(), "the visits reach the end of the range");
}

}  // namespace

int attributedTextOneInput(const std::uint8_t* data, std::size_t size) {
    Bytes in(data, size);
    auto [start, startModel] = pickText(in, 64);
    MutableAttributedText text = start.mutableCopy();
    Model model = std::move(startModel);
    std::vector<Kept> kept;
    int openGroups = 0;

    while (!in.empty()) {
        const std::uint32_t operation = in.below(12);
        if (operation <= 1) {  // addAttribute / removeAttribute
            const int key = static_cast<int>(in.below(kKeyCount));
            const Range range = pickRange(in, model.text.size());
            const AttributeValuePtr value = operation == 0 ? pickValue(in, key) : nullptr;
            const bool fits = range.end() <= model.text.size();
            bool refused = false;
            try {
                if (operation == 0)
                    text.addAttribute(keys()[key], value, range);
                else
                    text.removeAttribute(keys()[key], range);
            } catch (const std::out_of_range&) {
                refused = true;
            }
            check(refused != fits, "an edit is refused exactly when its range passes the end");
            if (fits)
                model.set(key, range, value);
        } else if (operation == 2 && model.text.size() < kLongestText) {
            auto [other, otherModel] = pickText(in, 48);
            text.appendAttributedString(other);
            model.append(otherModel);
            checkMatches(other, otherModel, "an appended text");
        } else if (operation == 3 && model.text.size() < kLongestText / 2) {
            text.appendAttributedString(text);  // itself, through its immutable copy
            model.append(Model(model));
        } else if (operation == 4) {
            enumerateAndEdit(in, text, model);
        } else if (operation == 5 || operation == 6) {
            const AttributedText receiver = text.copy();
            const Model receiverModel = model;
            const AttributedText result = transform(in, receiver, model);
            checkMatches(receiver, receiverModel, "a transform's receiver");
            text = result.mutableCopy();
        } else if (operation == 7) {
            if (kept.size() == kKeptCopies)
                kept.erase(kept.begin());
            kept.push_back({text.copy(), model});
        } else if (operation == 8 && !kept.empty()) {  // carry on from a copy kept aside
            const Kept& from = kept[in.below(static_cast<std::uint32_t>(kept.size()))];
            checkMatches(from.text, from.model, "a copy kept aside");
            text = from.text.mutableCopy();
            model = from.model;
            openGroups = 0;
        } else if (operation == 9) {
            if (openGroups < 3 && in.flag()) {
                text.beginEditing();
                ++openGroups;
            } else if (openGroups > 0) {
                text.endEditing();
                --openGroups;
            }
        } else if (operation == 10) {
            text = text.mutableCopy();
            openGroups = 0;
        } else if (operation == 11 && !model.text.empty()) {
            const int key = static_cast<int>(in.below(kKeyCount));
            const std::uint64_t location = in.below(static_cast<std::uint32_t>(model.text.size()));
            Range longest;
            const AttributeValuePtr value = text.attribute(keys()[key], location, &longest);
            check(sameValue(value, model.values[key][location]), "attribute: the value");
            std::uint64_t first = location;
            while (first > 0 && sameValue(model.values[key][first - 1], value))
                --first;
            check(longest == Range{first, runEnd(model, key, first, model.text.size()) - first},
                  "attribute: the longest effective range");
        }
        checkMatches(text, model, "the text");
    }
    for (const Kept& copy : kept)
        checkMatches(copy.text, copy.model, "a copy kept aside");
    while (openGroups-- > 0)
        text.endEditing();
    checkMatches(text.copy(), model, "the final copy");
    return 0;
}

}  // namespace fuzzing

#ifdef QUORVANE_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzzing::attributedTextOneInput(data, size);
}
#endif
