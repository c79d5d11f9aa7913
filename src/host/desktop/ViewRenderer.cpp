#include "host/desktop/ViewRenderer.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "host/desktop/AttributedTextSource.h"
#include "host/desktop/QtColours.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/Label.h"
#include "platform/ui/Slider.h"
#include "platform/ui/Switch.h"
#include "platform/ui/TextView.h"
#include "qttext/LazyTextView.h"

namespace host::desktop {
namespace {

// The platform's own on tint, for a switch that has none.
const QColor kDefaultOnTint(52, 199, 89);
// How far the switch's track sits inside its capsule, and the knob inside the track, in points.
constexpr double kSwitchTrackInset = 3.0;
constexpr double kSwitchKnobInset = 2.0;

void paintRounded(QPainter& painter, const QRectF& rect, double radius, const QColor& colour) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    if (radius > 0)
        painter.drawRoundedRect(rect, radius, radius);
    else
        painter.drawRect(rect);
}

// A text view: its background, and its content in a lazily laid-out scroll area filling it.
class TextViewWidget : public StandInWidget {
  public:
    explicit TextViewWidget(QWidget* parent)
        : StandInWidget(parent), text_(new LazyTextView(this)) {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(text_);
        setFocusProxy(text_);
        text_->setAccessibleName(QStringLiteral("Shared text"));
    }
    void syncFrom(platform::View& view, double zoom) override {
        StandInWidget::syncFrom(view, zoom);
        auto& textView = static_cast<platform::TextView&>(view);
        text_->setZoom(zoom);
        const platform::EdgeInsets insets = textView.textContainerInset();
        text_->setTextInsets({insets.left, insets.top, insets.right, insets.bottom});
        if (textView.contentGeneration() != generation_) {
            generation_ = textView.contentGeneration();
            text_->setContent(attributedTextSource(textView.attributedText()));
        }
    }
    [[nodiscard]] LazyTextView* text() const { return text_; }

  private:
    LazyTextView* text_;
    std::uint64_t generation_ = ~std::uint64_t{0};
};

// An activity indicator: spokes turning while it animates.
class ActivityIndicatorWidget : public StandInWidget {
  public:
    explicit ActivityIndicatorWidget(QWidget* parent) : StandInWidget(parent) {
        timer_.setInterval(80);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] {
            step_ = (step_ + 1) % kSpokes;
            update();
        });
        setAccessibleName(QStringLiteral("Activity indicator"));
    }
    void syncFrom(platform::View& view, double zoom) override {
        StandInWidget::syncFrom(view, zoom);
        const bool animating = static_cast<platform::ActivityIndicatorView&>(view).isAnimating();
        if (animating && !timer_.isActive())
            timer_.start();
        else if (!animating)
            timer_.stop();
        setAccessibleDescription(animating ? QStringLiteral("busy") : QString());
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        paintBackground(painter);
        const QPointF centre = QRectF(rect()).center();
        const double outer = std::min(width(), height()) / 2.0;
        QColor colour = palette().color(QPalette::WindowText);
        for (int i = 0; i < kSpokes; ++i) {
            const int age = (step_ - i + kSpokes) % kSpokes;
            colour.setAlphaF(static_cast<float>(1.0 - age / double(kSpokes)));
            painter.setPen(QPen(colour, std::max(outer / 5.0, 1.5), Qt::SolidLine, Qt::RoundCap));
            const double angle = 2 * M_PI * i / kSpokes;
            const QPointF direction(std::sin(angle), -std::cos(angle));
            painter.drawLine(centre + direction * outer * 0.45, centre + direction * outer * 0.9);
        }
    }

  private:
    static constexpr int kSpokes = 8;
    QTimer timer_;
    int step_ = 0;
};

// A label: its text in its font, centred in its frame (a desktop font may be a little wider or
// narrower than the frame the platform measured).
class LabelWidget : public StandInWidget {
  public:
    explicit LabelWidget(QWidget* parent) : StandInWidget(parent) {}
    void syncFrom(platform::View& view, double zoom) override {
        StandInWidget::syncFrom(view, zoom);
        const auto& label = static_cast<platform::Label&>(view);
        text_ = QString::fromStdString(label.text());
        font_ = qtFont(label.font());
        setAccessibleName(text_);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        paintBackground(painter);
        painter.scale(zoom_, zoom_);
        painter.setFont(font_);
        painter.setPen(palette().color(QPalette::WindowText));
        const QRectF area(0, 0, width() / zoom_, height() / zoom_);
        painter.drawText(area, Qt::AlignCenter | Qt::TextDontClip, text_);
    }

  private:
    QString text_;
    QFont font_;
};

// A switch: the capsule in the view's background colour and corner radius, the track in the on
// tint while on, the knob at the side of the state. Click or Space flicks it.
class SwitchWidget : public StandInWidget {
  public:
    SwitchWidget(QWidget* parent, std::function<void()> changed)
        : StandInWidget(parent), changed_(std::move(changed)) {
        setFocusPolicy(Qt::StrongFocus);
        setCursor(Qt::PointingHandCursor);
        setAccessibleName(QStringLiteral("Switch"));
    }
    void syncFrom(platform::View& view, double zoom) override {
        StandInWidget::syncFrom(view, zoom);
        auto& control = static_cast<platform::Switch&>(view);
        control_ = std::static_pointer_cast<platform::Switch>(control.shared_from_this());
        on_ = control.isOn();
        enabled_ = control.isEnabled();
        const auto tint = control.onTintColor();
        onTint_ = tint ? qtColour(*tint).value_or(kDefaultOnTint) : kDefaultOnTint;
        setAccessibleDescription(on_ ? QStringLiteral("on") : QStringLiteral("off"));
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        paintBackground(painter);
        const QRectF track =
            QRectF(rect()).adjusted(kSwitchTrackInset * zoom_, kSwitchTrackInset * zoom_,
                                    -kSwitchTrackInset * zoom_, -kSwitchTrackInset * zoom_);
        const double radius = track.height() / 2;
        if (on_) {
            paintRounded(painter, track, radius, onTint_);
        } else {
            painter.setPen(QPen(palette().color(QPalette::Mid), zoom_));
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(track, radius, radius);
        }
        const double knob = track.height() - 2 * kSwitchKnobInset * zoom_;
        const double x = on_ ? track.right() - kSwitchKnobInset * zoom_ - knob
                             : track.left() + kSwitchKnobInset * zoom_;
        const QRectF knobRect(x, track.top() + kSwitchKnobInset * zoom_, knob, knob);
        // The knob's outline shows the keyboard focus (the capsule keeps its own colour).
        painter.setPen(hasFocus() ? QPen(palette().color(QPalette::Highlight), 2)
                                  : QPen(QColor(0, 0, 0, 60), zoom_ * 0.5));
        painter.setBrush(enabled_ ? QColor(Qt::white) : QColor(220, 220, 220));
        painter.drawEllipse(knobRect);
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
            flick();
    }
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return ||
            event->key() == Qt::Key_Enter) {
            flick();
            return;
        }
        StandInWidget::keyPressEvent(event);
    }

  private:
    void flick() {
        if (const auto control = control_.lock(); control && control->userToggle() && changed_)
            changed_();
    }

    std::weak_ptr<platform::Switch> control_;
    std::function<void()> changed_;
    bool on_ = false;
    bool enabled_ = true;
    QColor onTint_ = kDefaultOnTint;
};

// A slider: the track where trackRectForBounds puts it, filled up to the thumb; the thumb where
// thumbRectForBounds puts it. A press or drag moves the thumb under the pointer; the arrow keys
// move a finger in steps of kKeyStep of the range (the slider may hold its value elsewhere,
// a sticky one near its default), Home and End to the ends.
class SliderWidget : public StandInWidget {
  public:
    static constexpr double kKeyStep = 0.01;  // of the range

    SliderWidget(QWidget* parent, std::function<void()> changed)
        : StandInWidget(parent), changed_(std::move(changed)) {
        setFocusPolicy(Qt::StrongFocus);
        setAccessibleName(QStringLiteral("Slider"));
    }
    void syncFrom(platform::View& view, double zoom) override {
        StandInWidget::syncFrom(view, zoom);
        auto& control = static_cast<platform::Slider&>(view);
        control_ = std::static_pointer_cast<platform::Slider>(control.shared_from_this());
        const platform::Rect bounds = control.bounds();
        track_ = control.trackRectForBounds(bounds);
        thumb_ = control.thumbRectForBounds(bounds, track_, control.value());
        if (!dragging_ && !fingerSet_)
            finger_ = control.value();
        setAccessibleDescription(QString::number(static_cast<double>(control.value()), 'f', 2));
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        paintBackground(painter);
        const QRectF track = qtRect(track_, zoom_);
        const QRectF thumb = qtRect(thumb_, zoom_);
        const double radius = track.height() / 2;
        paintRounded(painter, track, radius, palette().color(QPalette::Mid));
        QRectF filled = track;
        filled.setRight(thumb.center().x());
        paintRounded(painter, filled, radius, palette().color(QPalette::Highlight));
        painter.setPen(QPen(QColor(0, 0, 0, 70), zoom_ * 0.5));
        painter.setBrush(QColor(Qt::white));
        painter.drawEllipse(thumb.adjusted(zoom_, zoom_, -zoom_, -zoom_));
        if (hasFocus()) {
            painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
            painter.setBrush(Qt::NoBrush);
            painter.drawEllipse(thumb.adjusted(1, 1, -1, -1));
        }
    }
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton)
            return;
        dragging_ = true;
        moveTo(valueAt(event->position().x()));
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (dragging_)
            moveTo(valueAt(event->position().x()));
    }
    void mouseReleaseEvent(QMouseEvent*) override { dragging_ = false; }
    void keyPressEvent(QKeyEvent* event) override {
        const auto control = control_.lock();
        if (!control)
            return;
        const double range = static_cast<double>(control->maximumValue() - control->minimumValue());
        switch (event->key()) {
            case Qt::Key_Left:
            case Qt::Key_Down:
                return moveTo(finger_ - kKeyStep * range);
            case Qt::Key_Right:
            case Qt::Key_Up:
                return moveTo(finger_ + kKeyStep * range);
            case Qt::Key_Home:
                return moveTo(control->minimumValue());
            case Qt::Key_End:
                return moveTo(control->maximumValue());
            default:
                StandInWidget::keyPressEvent(event);
        }
    }

  private:
    // The value whose thumb centre is at `x` (widget pixels): the inverse of the slider's thumb
    // placement.
    [[nodiscard]] double valueAt(double x) const {
        const auto control = control_.lock();
        if (!control)
            return 0;
        const double travel = track_.size.width - thumb_.size.width;
        const double start = track_.origin.x + thumb_.size.width / 2;
        const double fraction =
            travel > 0 ? std::clamp((x / zoom_ - start) / travel, 0.0, 1.0) : 0.0;
        return control->minimumValue() +
               fraction * static_cast<double>(control->maximumValue() - control->minimumValue());
    }
    void moveTo(double value) {
        const auto control = control_.lock();
        if (!control)
            return;
        finger_ = std::clamp(value, static_cast<double>(control->minimumValue()),
                             static_cast<double>(control->maximumValue()));
        fingerSet_ = true;
        control->userSetValue(static_cast<float>(finger_));
        if (changed_)
            changed_();
    }

    std::weak_ptr<platform::Slider> control_;
    std::function<void()> changed_;
    platform::Rect track_;
    platform::Rect thumb_;
    double finger_ = 0;
    bool fingerSet_ = false;
    bool dragging_ = false;
};

}  // namespace

void StandInWidget::syncFrom(platform::View& view, double zoom) {
    zoom_ = zoom;
    background_ = view.backgroundColor() ? qtColour(*view.backgroundColor()) : std::nullopt;
    cornerRadius_ = view.layer().cornerRadius() * zoom;
    update();
}

void StandInWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    paintBackground(painter);
}

void StandInWidget::paintBackground(QPainter& painter) {
    if (background_ && background_->alpha() > 0)
        paintRounded(painter, QRectF(rect()), cornerRadius_, *background_);
}

struct ViewRenderer::Node {
    std::weak_ptr<platform::View> view;
    const platform::View* identity = nullptr;
    StandInWidget* widget = nullptr;
    std::vector<std::unique_ptr<Node>> children;
};

ViewRenderer::ViewRenderer() = default;

ViewRenderer::~ViewRenderer() = default;

std::unique_ptr<ViewRenderer::Node> ViewRenderer::makeNode(
    const std::shared_ptr<platform::View>& view, QWidget* parent) {
    auto node = std::make_unique<Node>();
    node->view = view;
    node->identity = view.get();
    const auto changed = [this] {
        if (controlChanged_)
            controlChanged_();
    };
    if (std::dynamic_pointer_cast<platform::TextView>(view))
        node->widget = new TextViewWidget(parent);
    else if (std::dynamic_pointer_cast<platform::ActivityIndicatorView>(view))
        node->widget = new ActivityIndicatorWidget(parent);
    else if (std::dynamic_pointer_cast<platform::Label>(view))
        node->widget = new LabelWidget(parent);
    else if (std::dynamic_pointer_cast<platform::Switch>(view))
        node->widget = new SwitchWidget(parent, changed);
    else if (std::dynamic_pointer_cast<platform::Slider>(view))
        node->widget = new SliderWidget(parent, changed);
    else
        node->widget = new StandInWidget(parent);
    for (const auto& subview : view->subviews())
        node->children.push_back(makeNode(subview, node->widget));
    return node;
}

void ViewRenderer::mount(const std::shared_ptr<platform::View>& root, QWidget* parent) {
    if (root_)
        delete root_->widget;
    root_ = root ? makeNode(root, parent) : nullptr;
    sync();
}

void ViewRenderer::sync() {
    if (root_)
        syncNode(*root_);
}

void ViewRenderer::syncNode(Node& node) {
    const auto view = node.view.lock();
    if (!view) {
        node.widget->hide();
        return;
    }
    // Views that arrived or left since the last pass: the subtree is made again.
    const auto& subviews = view->subviews();
    const bool same = std::equal(
        subviews.begin(), subviews.end(), node.children.begin(), node.children.end(),
        [](const auto& subview, const auto& child) { return subview.get() == child->identity; });
    if (!same) {
        for (auto& child : node.children)
            delete child->widget;
        node.children.clear();
        for (const auto& subview : subviews) {
            node.children.push_back(makeNode(subview, node.widget));
            node.children.back()->widget->show();
        }
    }
    node.widget->syncFrom(*view, zoom_);
    node.widget->setGeometry(qtRect(view->frame(), zoom_).toAlignedRect());
    node.widget->setVisible(!view->isHidden());
    for (auto& child : node.children) {
        syncNode(*child);
        child->widget->raise();  // in the order of the subviews, the last on top
    }
}

void ViewRenderer::setZoom(double zoom) {
    if (zoom > 0)
        zoom_ = zoom;
    sync();
}

QWidget* ViewRenderer::widgetFor(const platform::View* view) const {
    std::vector<const Node*> pending;
    if (root_)
        pending.push_back(root_.get());
    while (!pending.empty()) {
        const Node* node = pending.back();
        pending.pop_back();
        if (node->identity == view && !node->view.expired())
            return node->widget;
        for (const auto& child : node->children)
            pending.push_back(child.get());
    }
    return nullptr;
}

LazyTextView* ViewRenderer::textWidgetFor(const platform::View* view) const {
    auto* widget = dynamic_cast<TextViewWidget*>(widgetFor(view));
    return widget ? widget->text() : nullptr;
}

}  // namespace host::desktop
