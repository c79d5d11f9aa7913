#include "host/ControlsGallery.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <stdexcept>

#include "controls/QuorvaneColoredToggle.h"
#include "controls/QuorvaneStickySlider.h"
#include "platform/extension/ClassRegistry.h"
#include "platform/foundation/Geometry.h"

namespace host {
namespace {

using platform::makeRect;
using platform::Rect;
using platform::RgbaColor;

constexpr std::chrono::milliseconds kFrameInterval(50);
constexpr std::chrono::milliseconds kFlashTime(200);

// Where the controls sit, in points: two columns in from the sides; the toggle on row 4; the
// slider's label band on row 8 and its track on row 9.
constexpr double kMargin = 2 * kPointsPerColumn;
constexpr double kToggleTop = 4 * kPointsPerRow;
constexpr double kSliderTop = 8 * kPointsPerRow - quorvane::QuorvaneStickySlider::kLabelTop;
constexpr double kSliderHeight =
    quorvane::QuorvaneStickySlider::kSliderTop + platform::Slider::kThumbSize.height;
constexpr int kTickRow = 11;

struct Tint {
    const char* name;
    std::optional<RgbaColor> colour;
};
const Tint kTints[] = {
    {"green", RgbaColor(0.204, 0.780, 0.349, 1)}, {"blue", RgbaColor(0.0, 0.478, 1.0, 1)},
    {"orange", RgbaColor(1.0, 0.584, 0.0, 1)},    {"purple", RgbaColor(0.686, 0.322, 0.871, 1)},
    {"red", RgbaColor(1.0, 0.231, 0.188, 1)},     {"none", std::nullopt},
};

struct Palette {
    Rgb background, text, secondary;
};
constexpr Palette kLightPalette{{255, 255, 255}, {0, 0, 0}, {138, 138, 142}};
constexpr Palette kDarkPalette{{0, 0, 0}, {255, 255, 255}, {142, 142, 147}};

template <typename T>
std::shared_ptr<T> firstSubview(const platform::View& view) {
    for (const auto& subview : view.subviews()) {
        if (auto found = std::dynamic_pointer_cast<T>(subview))
            return found;
    }
    return nullptr;
}

std::string repeated(std::string_view piece, int count) {
    std::string out;
    for (int i = 0; i < count; ++i)
        out += piece;
    return out;
}

}  // namespace

ControlsGallery::ControlsGallery(Terminal& terminal, platform::UserInterfaceStyle appearance)
    : terminal_(terminal), appearance_(appearance), root_(platform::View::make()) {
    const auto& registry = platform::ClassRegistry::shared();
    toggle_ = std::dynamic_pointer_cast<platform::Switch>(
        registry.instantiate(quorvane::QuorvaneColoredToggle::kClassName));
    const auto sticky = std::dynamic_pointer_cast<platform::View>(
        registry.instantiate(quorvane::QuorvaneStickySlider::kClassName));
    if (!toggle_ || !sticky || sticky->className() != quorvane::QuorvaneStickySlider::kClassName)
        throw std::runtime_error("the extension does not provide its two controls");
    // The class is the one the bundle registered under that name: reached through its header's
    // inline accessors only, the rest through the toolkit's own classes.
    stickySlider_ = std::static_pointer_cast<quorvane::QuorvaneStickySlider>(sticky);
    slider_ = firstSubview<platform::Slider>(*sticky);
    valueLabel_ = firstSubview<platform::Label>(*sticky);
    if (!slider_ || !valueLabel_)
        throw std::runtime_error("the sticky slider has no slider or no label");

    root_->addSubview(toggle_);
    root_->addSubview(sticky);
    toggle_->setFrame(makeRect(kMargin, kToggleTop, 0, 0));  // a switch keeps its own size
    toggle_->setOnTintColor(kTints[tint_].colour);
    // The sticky slider is placed by constraints, as it asks of its owner.
    root_->addConstraints({
        sticky->leadingAnchor().constraintEqualToAnchor(root_->leadingAnchor(), kMargin),
        sticky->trailingAnchor().constraintEqualToAnchor(root_->trailingAnchor(), -kMargin),
        sticky->topAnchor().constraintEqualToAnchor(root_->topAnchor(), kSliderTop),
        sticky->bottomAnchor().constraintEqualToAnchor(root_->topAnchor(),
                                                       kSliderTop + kSliderHeight),
    });
    ticksShown_ = stickySlider_->haptic()->selectionCount();
}

void ControlsGallery::run() {
    const Terminal::Session screen(terminal_);
    bool dirty = true;
    bool flashShown = false;
    while (!quit_ && !terminal_.isGone()) {
        if (terminal_.takeResize())
            dirty = true;
        const auto now = std::chrono::steady_clock::now();
        const std::uint64_t ticks = stickySlider_->haptic()->selectionCount();
        if (ticks != ticksShown_) {
            ticksShown_ = ticks;
            flashUntil_ = now + kFlashTime;
        }
        const bool flashing = now < flashUntil_;
        if (dirty || flashing != flashShown) {
            terminal_.present(render(terminal_.rows(), terminal_.columns()));
            dirty = false;
            flashShown = flashing;
        }
        auto wait = kFrameInterval;
        if (flashing) {
            wait = std::clamp(
                std::chrono::duration_cast<std::chrono::milliseconds>(flashUntil_ - now) +
                    std::chrono::milliseconds(1),
                std::chrono::milliseconds(1), kFrameInterval);
        }
        for (const Key& key : terminal_.readKeys(wait)) {
            handle(key);
            dirty = true;
        }
    }
}

void ControlsGallery::handle(const Key& key) {
    constexpr int kStepsToEnd = static_cast<int>(1.0f / kDragStep + 0.5f);
    switch (key.kind) {
        case Key::Kind::escape:
            quit_ = true;
            return;
        case Key::Kind::left:
        case Key::Kind::right:
            fingerSteps_ = std::clamp(fingerSteps_ + (key.kind == Key::Kind::right ? 1 : -1),
                                      -kStepsToEnd, kStepsToEnd);
            slider_->userSetValue(static_cast<float>(fingerSteps_) * kDragStep);
            return;
        case Key::Kind::character:
            break;
        default:
            return;
    }
    if (key.is('q')) {
        quit_ = true;
    } else if (key.is(' ')) {
        toggle_->userToggle();
    } else if (key.is('t')) {
        tint_ = (tint_ + 1) % std::size(kTints);
        toggle_->setOnTintColor(kTints[tint_].colour);
    } else if (key.is(0x0C)) {  // Ctrl+L: draw everything again
        terminal_.redrawAll();
    }
}

std::vector<std::string> ControlsGallery::render(int rows, int columns) {
    root_->setFrame(makeRect(0, 0, columns * kPointsPerColumn, rows * kPointsPerRow));
    root_->layoutIfNeeded();

    const Palette& palette =
        appearance_ == platform::UserInterfaceStyle::dark ? kDarkPalette : kLightPalette;
    const CellStyle plain{palette.text, palette.background};
    const CellStyle hint{palette.secondary, palette.background};
    CellStyle heading = plain;
    heading.bold = true;
    const auto depth = terminal_.colourDepth();
    std::vector<Row> lines(static_cast<std::size_t>(std::max(rows, 0)), Row(columns, plain, depth));
    const auto line = [&](int row) -> Row* {
        return row >= 0 && row < rows ? &lines[static_cast<std::size_t>(row)] : nullptr;
    };

    if (Row* row = line(0)) {
        row->text(" Controls", heading);
        row->padTo(columns - 7, plain);
        row->text("q quit ", hint);
    }
    if (Row* row = line(1))
        row->text(repeated("─", columns), hint);

    // The coloured toggle: its capsule in its background colour, the knob at the side of its
    // state, the track in the tint while on.
    if (Row* row = line(rowAt(toggle_->frame().origin.y) - 1)) {
        row->padTo(columnAt(kMargin), plain);
        row->text("Coloured toggle", heading);
        row->text("   space turns it on and off · t changes the tint", hint);
    }
    const Rect toggleFrame = toggle_->frame();
    if (Row* row = line(rowAt(platform::rectGetMidY(toggleFrame)))) {
        const Rgb capsule = rgbOver(toggle_->backgroundColor().value_or(RgbaColor::clearColor()),
                                    palette.background);
        const Rgb tint = rgbOver(toggle_->onTintColor().value_or(RgbaColor::clearColor()), capsule);
        const int start = columnAt(platform::rectGetMinX(toggleFrame));
        const int width = std::max(columnAt(platform::rectGetMaxX(toggleFrame)) - start, 2);
        row->padTo(start, plain);
        const bool on = toggle_->isOn();
        const CellStyle track{on ? tint : palette.secondary, capsule};
        CellStyle knob{on ? tint : palette.secondary, capsule};
        knob.bold = true;
        if (!on)
            row->text("●", knob);
        row->text(repeated(on ? "━" : "─", width - 1), track);
        if (on)
            row->text("●", knob);
        row->text(on ? "  on " : "  off", plain);
        row->text("   tint " + std::string(kTints[tint_].name), plain);
        if (toggle_->onTintColor())
            row->text(" " + hexOf(rgbOver(*toggle_->onTintColor(), palette.background)), hint);
        row->text("   capsule " + hexOf(capsule), plain);
    }

    // The sticky slider: its value label over the thumb, where the layout pass put it; the
    // track with the thumb; the ticks its feedback generator gave.
    const Rect sticky = stickySlider_->frame();
    if (Row* row = line(
            rowAt(platform::rectGetMinY(sticky) + quorvane::QuorvaneStickySlider::kLabelTop) - 2)) {
        row->padTo(columnAt(kMargin), plain);
        row->text("Sticky slider", heading);
        char defaultText[32];
        std::snprintf(defaultText, sizeof defaultText, "%.2f",
                      static_cast<double>(stickySlider_->defaultValue()));
        row->text("   \u2190 \u2192 drag the thumb · it sticks at " + std::string(defaultText),
                  hint);
    }
    const Rect labelFrame = valueLabel_->frame();
    if (Row* row = line(rowAt(platform::rectGetMinY(sticky) + platform::rectGetMidY(labelFrame)))) {
        const std::string& text = valueLabel_->text();
        const int centre =
            columnAt(platform::rectGetMinX(sticky) + platform::rectGetMidX(labelFrame));
        row->padTo(centre - columnsOf(text) / 2, plain);
        CellStyle style = plain;
        style.bold = valueLabel_->font().isBold();
        row->text(text, style);
    }
    const Rect sliderFrame = slider_->frame();
    if (Row* row =
            line(rowAt(platform::rectGetMinY(sticky) + platform::rectGetMidY(sliderFrame)))) {
        const Rect bounds = slider_->bounds();
        const Rect trackRect = slider_->trackRectForBounds(bounds);
        const Rect thumbRect = slider_->thumbRectForBounds(bounds, trackRect, slider_->value());
        const double origin = platform::rectGetMinX(sticky) + platform::rectGetMinX(sliderFrame);
        const int trackStart = columnAt(origin + platform::rectGetMinX(trackRect));
        const int trackEnd = columnAt(origin + platform::rectGetMaxX(trackRect));
        const int thumb = std::clamp(columnAt(origin + platform::rectGetMidX(thumbRect)),
                                     trackStart, std::max(trackEnd - 1, trackStart));
        const Rgb accent = rgbOver(stickySlider_->accentColor(), palette.background);
        row->padTo(trackStart, plain);
        row->text(repeated("━", thumb - trackStart), CellStyle{accent, palette.background});
        CellStyle thumbStyle = plain;
        thumbStyle.bold = true;
        row->text("●", thumbStyle);
        row->text(repeated("─", trackEnd - thumb - 1), hint);
    }
    if (Row* row = line(kTickRow)) {
        row->padTo(columnAt(kMargin), plain);
        row->text("ticks " + std::to_string(ticksShown_), plain);
        if (std::chrono::steady_clock::now() < flashUntil_) {
            CellStyle flash = heading;
            flash.reverse = true;
            row->text("  ", plain);
            row->text(" ✦ tick ", flash);
        }
    }
    if (rows >= 4) {
        if (Row* row = line(rows - 1))
            row->text(" \u2190 \u2192 drag · space toggle · t tint · q quit", hint);
    }

    std::vector<std::string> frame;
    for (Row& row : lines)
        frame.push_back(row.finish());
    return frame;
}

}  // namespace host
