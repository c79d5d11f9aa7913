// SelectionFeedbackGenerator: the haptic tick of a changing selection
// (UISelectionFeedbackGenerator).
//
// The stand-in has no motor: it counts the ticks it was asked for, which is what a person would
// feel and what tests check. Like every feedback generator it belongs to the main thread.
#pragma once

#include <cstdint>

#include "platform/foundation/Object.h"

namespace platform {

class SelectionFeedbackGenerator : public Object {
  public:
    [[nodiscard]] std::string_view className() const override {
        return "UISelectionFeedbackGenerator";
    }

    // prepare: readies the motor; no effect here.
    void prepare() {}
    // selectionChanged: one tick.
    void selectionChanged();

    // Ticks given so far by this generator.
    [[nodiscard]] std::uint64_t selectionCount() const { return selectionCount_; }
    // Platform side: ticks given so far by every generator of the process, which is what the
    // person holding the device feels, whichever control asked for them.
    [[nodiscard]] static std::uint64_t ticksFelt();

  private:
    std::uint64_t selectionCount_ = 0;
};

}  // namespace platform
