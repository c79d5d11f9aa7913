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

    // Ticks given so far.
    [[nodiscard]] std::uint64_t selectionCount() const { return selectionCount_; }
    // Ticks given so far by every generator of the process: what the person's hand has felt, as
    // a host shows it without reaching into the control that owns the generator.
    [[nodiscard]] static std::uint64_t ticksGiven();

  private:
    std::uint64_t selectionCount_ = 0;
};

}  // namespace platform
