// Layer: the backing layer of a view (CALayer); only what views here draw with.
#pragma once

namespace platform {

class Layer {
  public:
    [[nodiscard]] double cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(double radius) { cornerRadius_ = radius; }

  private:
    double cornerRadius_ = 0;  // points
};

}  // namespace platform
