// ActivityIndicatorView: a spinner that turns while work is in flight (UIActivityIndicatorView).
#pragma once

#include "platform/ui/View.h"

namespace platform {

class ActivityIndicatorView : public View {
  public:
    ActivityIndicatorView() { setHidden(true); }  // stopped, and hidden when stopped
    [[nodiscard]] std::string_view className() const override { return "UIActivityIndicatorView"; }
    // initWithCoder: also reads "hidesWhenStopped" and "animating".
    bool initWithCoder(const Coder& coder);
    static std::shared_ptr<ActivityIndicatorView> make(Rect frame = {});

    [[nodiscard]] bool isAnimating() const { return animating_; }
    void startAnimating();
    void stopAnimating();
    [[nodiscard]] bool hidesWhenStopped() const { return hidesWhenStopped_; }
    void setHidesWhenStopped(bool hides);

  private:
    bool animating_ = false;
    bool hidesWhenStopped_ = true;
};

}  // namespace platform
