#include "host/desktop/ShareWindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <algorithm>
#include <map>

#include "host/frontend/OutcomeReport.h"
#include "host/desktop/DesktopIdentity.h"
#include "host/desktop/Notifier.h"
#include "platform/foundation/Dispatch.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/TextView.h"
#include "qttext/LazyTextView.h"

namespace host::desktop {
namespace {

constexpr int kDefaultZoomStep = 4;  // 1.0
constexpr QSize kReadingSize(720, 640);
constexpr std::chrono::milliseconds kNotificationPatience(2000);

// Where a subview goes when its superview changes size, from where the interface file put it:
// along each axis it stretches (keeping both margins) when it spanned more than half of the
// superview, and otherwise keeps its size and its centre's share of the superview.
platform::Rect followResize(const platform::Rect& design, platform::Size designParent,
                            platform::Size parent) {
    const auto axis = [](double origin, double size, double designSpan, double span,
                         double* newOrigin, double* newSize) {
        if (designSpan <= 0) {
            *newOrigin = origin;
            *newSize = size;
        } else if (size > designSpan / 2) {
            const double after = designSpan - origin - size;
            *newOrigin = origin;
            *newSize = std::max(span - origin - after, 0.0);
        } else {
            *newOrigin = (origin + size / 2) / designSpan * span - size / 2;
            *newSize = size;
        }
    };
    platform::Rect result;
    axis(design.origin.x, design.size.width, designParent.width, parent.width, &result.origin.x,
         &result.size.width);
    axis(design.origin.y, design.size.height, designParent.height, parent.height, &result.origin.y,
         &result.size.height);
    return result;
}

// The design frames of the tree under `view`, recorded once.
void recordDesign(const std::shared_ptr<platform::View>& view,
                  std::map<const platform::View*, platform::Rect>& design) {
    design.emplace(view.get(), view->frame());
    for (const auto& subview : view->subviews())
        recordDesign(subview, design);
}

void resizeSubviews(platform::View& view, platform::Size designSize,
                    const std::map<const platform::View*, platform::Rect>& design) {
    for (const auto& subview : view.subviews()) {
        const auto found = design.find(subview.get());
        if (found == design.end())
            continue;  // a view that arrived later is left where it is
        const platform::Rect frame = followResize(found->second, designSize, view.bounds().size);
        subview->setFrame(frame);
        resizeSubviews(*subview, found->second.size, design);
    }
}

}  // namespace

platform::UserInterfaceStyle paletteAppearance(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < 128 ? platform::UserInterfaceStyle::dark
                                                             : platform::UserInterfaceStyle::light;
}

QPalette paletteFor(platform::UserInterfaceStyle appearance) {
    const bool dark = appearance == platform::UserInterfaceStyle::dark;
    const QColor background = dark ? QColor(0, 0, 0) : QColor(255, 255, 255);
    const QColor text = dark ? QColor(255, 255, 255) : QColor(0, 0, 0);
    const QColor bar = dark ? QColor(28, 28, 30) : QColor(249, 249, 249);
    const QColor secondary = dark ? QColor(142, 142, 147) : QColor(138, 138, 142);
    const QColor tint = dark ? QColor(10, 132, 255) : QColor(0, 122, 255);
    const QColor separator = dark ? QColor(56, 56, 58) : QColor(198, 198, 200);
    QPalette palette;
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Window, background);
        palette.setColor(group, QPalette::Base, background);
        palette.setColor(group, QPalette::AlternateBase, bar);
        palette.setColor(group, QPalette::WindowText, text);
        palette.setColor(group, QPalette::Text, text);
        palette.setColor(group, QPalette::Button, bar);
        palette.setColor(group, QPalette::ButtonText,
                         group == QPalette::Disabled ? secondary : tint);
        palette.setColor(group, QPalette::Highlight, tint);
        palette.setColor(group, QPalette::HighlightedText, QColor(255, 255, 255));
        palette.setColor(group, QPalette::Mid, separator);
        palette.setColor(group, QPalette::PlaceholderText, secondary);
        palette.setColor(group, QPalette::ToolTipBase, bar);
        palette.setColor(group, QPalette::ToolTipText, text);
    }
    palette.setColor(QPalette::Disabled, QPalette::WindowText, secondary);
    palette.setColor(QPalette::Disabled, QPalette::Text, secondary);
    return palette;
}

ShareWindow::ShareWindow(ShareSession& session, QWidget* parent)
    : QWidget(parent),
      session_(session),
      canvas_(new QWidget(this)),
      bar_(new NavigationBar(this)),
      banner_(new QWidget(this)),
      reason_(new QLabel(banner_)),
      dismiss_(new QPushButton(QStringLiteral("OK"), banner_)),
      sentNotice_(new QLabel(QStringLiteral("Sent to the teleprompter"), this)) {
    setWindowTitle(QString(kApplicationName));
    setAccessibleName(QString(kApplicationName));
    canvas_->setAutoFillBackground(true);
    const auto& controller = session_.controller();
    if (controller && controller->view()) {
        recordDesign(controller->view(), design_);
        designSize_ = controller->view()->frame().size;
        renderer_.mount(controller->view(), canvas_);
    }
    bar_->setTapped([this] { refresh(); });
    renderer_.setControlChanged([this] { refresh(); });

    // The reason a send failed, with the button that ends the share.
    banner_->setAutoFillBackground(true);
    banner_->setAccessibleName(QStringLiteral("Not sent"));
    reason_->setWordWrap(true);
    reason_->setTextFormat(Qt::PlainText);
    reason_->setAccessibleName(QStringLiteral("Reason"));
    dismiss_->setAccessibleName(QStringLiteral("OK"));
    auto* bannerLayout = new QHBoxLayout(banner_);
    bannerLayout->addWidget(reason_, 1);
    bannerLayout->addWidget(dismiss_);
    connect(dismiss_, &QPushButton::clicked, this, [this] { finish(); });
    banner_->hide();

    // Said by the window itself after a send when no notification service answers.
    sentNotice_->setAlignment(Qt::AlignCenter);
    sentNotice_->setAutoFillBackground(true);
    sentNotice_->setAccessibleName(QStringLiteral("Sent"));
    QFont noticeFont = sentNotice_->font();
    noticeFont.setBold(true);
    noticeFont.setPointSizeF(noticeFont.pointSizeF() * 1.6);
    sentNotice_->setFont(noticeFont);
    sentNotice_->hide();

    resize(kReadingSize);
    connect(&pump_, &QTimer::timeout, this, [this] { pump(); });
    pump_.start(kPumpInterval);
    refresh();
    // Tab goes from the text to the items as they are read, left to right: Close, then Send.
    if (auto* text = textWidget()) {
        setTabOrder(text, bar_->leftButton());
        text->setFocus();
    }
}

ShareWindow::~ShareWindow() = default;

LazyTextView* ShareWindow::textWidget() const {
    const auto view = session_.textView();
    return view ? renderer_.textWidgetFor(view.get()) : nullptr;
}

QWidget* ShareWindow::activityWidget() const {
    const auto view = session_.activityIndicator();
    return view ? renderer_.widgetFor(view.get()) : nullptr;
}

platform::TraitCollection ShareWindow::traits() const {
    const auto& controller = session_.controller();
    return controller ? controller->traitCollection() : platform::TraitCollection{};
}

void ShareWindow::followDesktop(DesktopTraits& desktop, TraitChoice chosen) {
    const QPalette desktopPalette = QGuiApplication::palette();
    const auto apply = [this, &desktop, chosen, desktopPalette] {
        setTraits(chosen.appearance.value_or(
                      desktop.appearance().value_or(paletteAppearance(desktopPalette))),
                  chosen.textSize.value_or(
                      desktop.textSize().value_or(platform::ContentSizeCategory::large)));
    };
    desktop.setChanged(apply);
    apply();
}

void ShareWindow::setTraits(platform::UserInterfaceStyle appearance,
                            platform::ContentSizeCategory textSize) {
    platform::TraitCollection next = traits();
    next.userInterfaceStyle = appearance;
    next.preferredContentSizeCategory = textSize;
    // The platform delivers a trait change only when something changed.
    if (next != traits())
        session_.changeTraits(next);
    refresh();
}

bool ShareWindow::tap(ShareAction action) {
    if (endedSeen_)
        return false;
    const bool tapped = session_.tap(action);
    refresh();
    if (session_.hasEnded())
        ended();
    return tapped;
}

void ShareWindow::applyPalette() {
    const QPalette palette = paletteFor(traits().userInterfaceStyle);
    if (palette != this->palette())
        setPalette(palette);
    QPalette bannerPalette = palette;
    bannerPalette.setColor(QPalette::Window,
                           traits().userInterfaceStyle == platform::UserInterfaceStyle::dark
                               ? QColor(90, 20, 20)
                               : QColor(255, 228, 228));
    banner_->setPalette(bannerPalette);
}

void ShareWindow::refresh() {
    applyPalette();
    layOut();
    bar_->sync(session_.controller(), zoom_);
    renderer_.sync();
}

void ShareWindow::layOut() {
    canvas_->setGeometry(rect());
    const auto& controller = session_.controller();
    if (controller && controller->view()) {
        const auto& root = controller->view();
        const platform::Rect frame = platform::makeRect(0, 0, width() / zoom_, height() / zoom_);
        if (root->frame() != frame) {
            root->setFrame(frame);
            resizeSubviews(*root, designSize_, design_);
        }
    }
    bar_->setGeometry(0, 0, width(), bar_->height());
    bar_->raise();
    if (sentNotice_->isVisible()) {
        sentNotice_->setGeometry(rect());
        sentNotice_->raise();
    }
    if (banner_->isVisible()) {
        const int height = banner_->sizeHint().height();
        banner_->setGeometry(0, this->height() - height, width(), height);
        banner_->raise();
    }
}

void ShareWindow::pump() {
    if (platform::MainRunLoop::runPending() > 0)
        refresh();
    if (!endedSeen_ && session_.hasEnded())
        ended();
}

void ShareWindow::ended() {
    if (endedSeen_)
        return;
    endedSeen_ = true;
    // The block that ended the request finishes (and a write still in flight with it).
    session_.settle();
    refresh();
    const ShareOutcome outcome = session_.outcome();
    if (outcome.kind == ShareOutcome::Kind::completed &&
        !notifySent(outcome.navigationTitle.view(), kNotificationPatience) && !unattended_) {
        // Nobody else will say it: the window does, for a moment, over the text it sent.
        sentNotice_->setGeometry(rect());
        sentNotice_->show();
        sentNotice_->raise();
        QTimer::singleShot(kSentNoticeShown, this, [this] { finish(); });
        return;
    }
    if (outcome.kind != ShareOutcome::Kind::failed)
        return finish();
    failed_ = true;
    reason_->setText(QString::fromStdString(outcomeWords(outcome, false).err).trimmed());
    banner_->show();
    layOut();
    dismiss_->setFocus();
    if (unattended_)
        QTimer::singleShot(failureShown_, this, [this] { finish(); });
}

void ShareWindow::finish() {
    if (finishedCalled_)
        return;
    finishedCalled_ = true;
    pump_.stop();
    close();
    if (finished_)
        finished_();
}

void ShareWindow::setZoomStep(int step) {
    zoomStep_ = std::clamp(step, 0, static_cast<int>(std::size(kZoomSteps)) - 1);
    zoom_ = kZoomSteps[zoomStep_];
    renderer_.setZoom(zoom_);
    refresh();
}

void ShareWindow::zoomIn() {
    setZoomStep(zoomStep_ + 1);
}

void ShareWindow::zoomOut() {
    setZoomStep(zoomStep_ - 1);
}

void ShareWindow::resetZoom() {
    setZoomStep(kDefaultZoomStep);
}

void ShareWindow::resizeEvent(QResizeEvent*) {
    refresh();
}

void ShareWindow::closeEvent(QCloseEvent* event) {
    if (finishedCalled_ || failed_) {
        event->accept();
        finish();
        return;
    }
    const auto indicator = session_.activityIndicator();
    if (indicator && indicator->isAnimating()) {
        // A send is writing: the window stays until it has ended, and then tells how.
        event->ignore();
        return;
    }
    tap(ShareAction::close);
    // A window always closes: an extension that ended nothing leaves the share open, and the
    // outcome says so.
    event->accept();
    if (!failed_)
        finish();
}

void ShareWindow::keyPressEvent(QKeyEvent* event) {
    const bool control = event->modifiers().testFlag(Qt::ControlModifier);
    switch (event->key()) {
        case Qt::Key_W:
        case Qt::Key_Q:
            // Ctrl+W and Ctrl+Q close, as Escape does, as in every window of the desktop.
            if (!control)
                break;
            [[fallthrough]];
        case Qt::Key_Escape:
            if (failed_)
                finish();
            else
                tap(ShareAction::close);
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (control) {
                tap(ShareAction::send);
                return;
            }
            break;
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            if (control) {
                zoomIn();
                return;
            }
            break;
        case Qt::Key_Minus:
            if (control) {
                zoomOut();
                return;
            }
            break;
        case Qt::Key_0:
            if (control) {
                resetZoom();
                return;
            }
            break;
        default:
            break;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace host::desktop
