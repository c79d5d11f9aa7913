// ControlsGallery: the extension's two custom controls in a terminal, operated with keys as a
// person operates them.
//
//   Controls                                                             q quit
//   ─────────────────────────────────────────────────────────────────────────────
//   Coloured toggle   space turns it on and off · t changes the tint
//     ━━━━●  on   tint green #34C759   capsule #99FFB2
//   Sticky slider     ← → drag the thumb · it sticks at 0.00
//                              0.06
//     ━━━━━━━━━━━━━━━━━━━━━━━━━━━●────────────────────────────────────
//     ticks 2
//
// The controls are the classes the extension ships, made by their registered names from the
// loaded bundle, placed in a root view as large as the screen (kPointsPerColumn points to a
// column, kPointsPerRow to a row) and laid out before every frame. Each frame is read from
// them: the toggle's state and derived background colour, the slider's track, thumb and value
// label (from the label's frame after the layout pass) and its feedback generator's ticks.
//
// Keys act through the controls' person-side paths: space flicks the toggle (which sends its
// value-changed action); ← and → move the finger dragging the slider's thumb by kDragStep, and
// the slider takes each position as a move of a drag (which sends its value-changed action),
// so the thumb sticks while the finger is near the default value and the finger has to move
// on to pull it away. Ticks are timed on the real monotonic clock; each shows as a brief flash
// beside the running count.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "host/tty/Terminal.h"
#include "platform/ui/Label.h"
#include "platform/ui/Slider.h"
#include "platform/ui/Switch.h"
#include "platform/ui/TraitCollection.h"
#include "platform/ui/View.h"

namespace host {

class ControlsGallery {
  public:
    static constexpr float kDragStep = 0.02f;

    // Makes the controls from the loaded extension's classes. Throws std::runtime_error when
    // the extension does not provide them.
    ControlsGallery(Terminal& terminal, platform::UserInterfaceStyle appearance);

    // Takes the terminal over and shows the controls until q or Esc (or the terminal goes).
    void run();

  private:
    void handle(const Key& key);
    [[nodiscard]] std::vector<std::string> render(int rows, int columns);

    Terminal& terminal_;
    platform::UserInterfaceStyle appearance_;
    std::shared_ptr<platform::View> root_;
    std::shared_ptr<platform::Switch> toggle_;
    std::shared_ptr<platform::View> sticky_;
    std::shared_ptr<platform::Slider> slider_;
    std::shared_ptr<platform::Label> valueLabel_;
    float defaultValue_ = 0;  // where the slider sticks: the value it starts at
    std::size_t tint_ = 0;    // index into the tints offered
    int fingerSteps_ = 0;     // the dragging finger, in kDragStep from 0
    bool quit_ = false;
    std::uint64_t ticksShown_ = 0;
    std::chrono::steady_clock::time_point flashUntil_;
};

}  // namespace host
