// ControlsWindow: the extension's two custom controls in a desktop window, drawn by the same
// renderer of stand-in views as the share sheet and operated with mouse and keys.
//
// The controls are the classes the extension ships, made by their registered names from the
// loaded bundle and placed on a root view as large as the window: the coloured toggle at a fixed
// place, the sticky slider by constraints across the width, as it asks of its owner. After every
// change the root view is laid out again and the widgets read the views: the toggle's capsule
// in its derived background colour and corner radius, the slider's thumb where its geometry puts
// it, the value label riding where the layout pass put it. Each selection tick the slider gives
// shows as a brief pulse beside the running count.
//
// Keys: Tab moves between the controls; Space flicks the toggle; the arrow keys drag the
// slider's thumb; T changes the toggle's tint (the last choice is no tint); Escape or Q closes.
#pragma once

#include <QLabel>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <memory>

#include "host/desktop/ViewRenderer.h"
#include "platform/ui/Label.h"
#include "platform/ui/Slider.h"
#include "platform/ui/Switch.h"
#include "platform/ui/TraitCollection.h"

namespace host::desktop {

class ControlsWindow : public QWidget {
  public:
    // Throws std::runtime_error when the loaded extension does not provide the controls.
    explicit ControlsWindow(platform::UserInterfaceStyle appearance, QWidget* parent = nullptr);
    ~ControlsWindow() override;

    [[nodiscard]] const std::shared_ptr<platform::Switch>& toggle() const { return toggle_; }
    [[nodiscard]] const std::shared_ptr<platform::View>& stickySlider() const { return sticky_; }
    [[nodiscard]] const std::shared_ptr<platform::Slider>& slider() const { return slider_; }
    [[nodiscard]] const std::shared_ptr<platform::Label>& valueLabel() const { return label_; }
    [[nodiscard]] QWidget* widgetFor(const platform::View* view) const {
        return renderer_.widgetFor(view);
    }
    [[nodiscard]] QLabel* tickLabel() const { return ticks_; }
    // Moves to the next tint.
    void nextTint();
    // Lays the views out and reads them again.
    void refresh();

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    ViewRenderer renderer_;
    std::shared_ptr<platform::View> root_;
    std::shared_ptr<platform::Switch> toggle_;
    std::shared_ptr<platform::View> sticky_;
    std::shared_ptr<platform::Slider> slider_;
    std::shared_ptr<platform::Label> label_;
    QWidget* canvas_;
    QLabel* toggleHeading_;
    QLabel* toggleState_;
    QLabel* sliderHeading_;
    QLabel* ticks_;
    QTimer pulse_;
    std::size_t tint_ = 0;
    std::uint64_t ticksShown_ = 0;
};

}  // namespace host::desktop
