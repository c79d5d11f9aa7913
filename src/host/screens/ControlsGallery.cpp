#include "host/screens/ControlsGallery.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <stdexcept>

#include "host/session/Colour.h"
#include "host/session/ExtensionControls.h"
#include "platform/foundation/Geometry.h"
#include "platform/ui/SelectionFeedbackGenerator.h"

namespace host {
namespace {

using platform::makeRect;
using platform::Rect;
using platform::RgbaColor;

constexpr std::chrono::milliseconds kFrameInterval(50);
constexpr std::chrono::milliseconds kFlashTime(200);

// Where the controls sit, in points: two columns in from the sides; the toggle on row 4; the
// sticky slider in a band of three rows from the middle of row 7, room for its value label
// over a slider as tall as its thumb (its own layout places the two inside the band).
constexpr double kMargin = 2 * kPointsPerColumn;
constexpr double kToggleTop = 4 * kPointsPerRow;
constexpr double kStickyTop = 7.5 * kPointsPerRow;
constexpr double kStickyHeight = 3 * kPointsPerRow;
constexpr int kTickRow = 11;

std::string repeated(std::string_view piece, int count) {
    std::string out;
    for (int i = 0; i < count; ++i)
        out += piece;
    return out;
}

}  // namespace

ControlsGallery::ControlsGallery(Terminal& terminal, platform::UserInterfaceStyle appearance)
    : terminal_(terminal), appearance_(appearance), root_(platform::View::make()) {
    ExtensionControls controls = makeExtensionControls();
    toggle_ = std::move(controls.toggle);
    sticky_ = std::move(controls.sticky);
    slider_ = std::move(controls.slider);
    valueLabel_ = std::move(controls.valueLabel);
    defaultValue_ = slider_->value();  // it starts at the value it sticks to

    root_->addSubview(toggle_);
    root_->addSubview(sticky_);
    toggle_->setFrame(makeRect(kMargin, kToggleTop, 0, 0));  // a switch keeps its own size
    toggle_->setOnTintColor(galleryTints()[tint_].colour);
    // The sticky slider is placed by constraints, as it asks of its owner.
    root_->addConstraints({
        sticky_->leadingAnchor().constraintEqualToAnchor(root_->leadingAnchor(), kMargin),
        sticky_->trailingAnchor().constraintEqualToAnchor(root_->trailingAnchor(), -kMargin),
        sticky_->topAnchor().constraintEqualToAnchor(root_->topAnchor(), kStickyTop),
        sticky_->bottomAnchor().constraintEqualToAnchor(root_->topAnchor(),
                                                        kStickyTop + kStickyHeight),
    });
    ticksShown_ = platform::SelectionFeedbackGenerator::ticksFelt();
}

void ControlsGallery::run() {
    const Terminal::Session screen(terminal_);
    bool dirty = true;
    bool flashShown = false;
    while (!quit_ && !terminal_.isGone()) {
        if (terminal_.takeResize())
            dirty = true;
        const auto now = std::chrono::steady_clock::now();
        const std::uint64_t ticks = platform::SelectionFeedbackGenerator::ticksFelt();
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
        tint_ = (tint_ + 1) % galleryTints().size();
        toggle_->setOnTintColor(galleryTints()[tint_].colour);
    } else if (key.is(0x0C)) {  // Ctrl+L: draw everything again
        terminal_.redrawAll();
    }
}

std::vector<std::string> ControlsGallery::render(int rows, int columns) {
    root_->setFrame(makeRect(0, 0, columns * kPointsPerColumn, rows * kPointsPerRow));
    root_->layoutIfNeeded();

    const Palette& palette = paletteFor(appearance_);
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
        row->text("   tint " + std::string(galleryTints()[tint_].name), plain);
        // Two pieces rather than " " + a string: GCC 12 falsely warns (-Wrestrict) about the
        // insertion that form makes, once optimised.
        if (toggle_->onTintColor()) {
            row->text(" ", hint);
            row->text(hexOf(rgbOver(*toggle_->onTintColor(), palette.background)), hint);
        }
        row->text("   capsule " + hexOf(capsule), plain);
    }

    // The sticky slider: its value label over the thumb, where the layout pass put it; the
    // track with the thumb; the ticks its feedback generator gave.
    const Rect sticky = sticky_->frame();
    const Rect labelFrame = valueLabel_->frame();
    const int labelRow = rowAt(platform::rectGetMinY(sticky) + platform::rectGetMidY(labelFrame));
    if (Row* row = line(labelRow - 2)) {
        row->padTo(columnAt(kMargin), plain);
        row->text("Sticky slider", heading);
        char defaultText[32];
        std::snprintf(defaultText, sizeof defaultText, "%.2f", static_cast<double>(defaultValue_));
        row->text("   \u2190 \u2192 drag the thumb · it sticks at " + std::string(defaultText),
                  hint);
    }
    if (Row* row = line(labelRow)) {
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
        const Rgb accent = palette.tint;
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
