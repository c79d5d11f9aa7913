// ViewRenderer: the stand-in's views drawn as Qt widgets, one widget per view.
//
// Every frame of a front-end is read from the views as they are now: sync() walks the view
// tree, makes widgets for views that arrived and drops those of views that left, and gives each
// widget its view's frame (points times the zoom, in its superview's widget), hidden flag,
// background colour with the layer's corner radius, and what the view type holds: a text
// view's attributed text and insets (drawn by LazyTextView), an activity indicator turning or
// not, a label's text and font, a switch's state, tint and capsule, a slider's track and thumb
// where the slider's own geometry puts them. There is no second copy of any layout here.
//
// A person's input on a control goes through the control's person-side path (a switch's
// flick, a slider's move), as on the device; then the renderer's change callback runs so that
// the owner can lay the views out again and sync.
#pragma once

#include <QColor>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/ui/View.h"

namespace qttext {
class LazyTextView;
}

namespace host::desktop {

using qttext::LazyTextView;

// The base of the widgets the renderer makes: paints the view's background colour inside the
// layer's corner radius.
class StandInWidget : public QWidget {
  public:
    explicit StandInWidget(QWidget* parent) : QWidget(parent) {}
    // Takes what the view holds now.
    virtual void syncFrom(platform::View& view, double zoom);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void paintBackground(QPainter& painter);

    std::optional<QColor> background_;
    double cornerRadius_ = 0;  // device-independent pixels
    double zoom_ = 1.0;
};

class ViewRenderer {
  public:
    ViewRenderer();
    ~ViewRenderer();
    ViewRenderer(const ViewRenderer&) = delete;
    ViewRenderer& operator=(const ViewRenderer&) = delete;

    // Makes the widgets for the tree under `root` inside `parent`, the root's widget placed at
    // the root's frame.
    void mount(const std::shared_ptr<platform::View>& root, QWidget* parent);
    // Reads every view of the tree again.
    void sync();

    void setZoom(double zoom);
    [[nodiscard]] double zoom() const { return zoom_; }
    // Runs after a person changed a control through its widget.
    void setControlChanged(std::function<void()> changed) { controlChanged_ = std::move(changed); }

    // The widget drawing `view`, or null when the view is not (or no longer) in the tree.
    [[nodiscard]] QWidget* widgetFor(const platform::View* view) const;
    // The scroll area drawing a text view's content, or null.
    [[nodiscard]] LazyTextView* textWidgetFor(const platform::View* view) const;

  private:
    struct Node;
    std::unique_ptr<Node> makeNode(const std::shared_ptr<platform::View>& view, QWidget* parent);
    void syncNode(Node& node);

    std::unique_ptr<Node> root_;
    double zoom_ = 1.0;
    std::function<void()> controlChanged_;
};

}  // namespace host::desktop
