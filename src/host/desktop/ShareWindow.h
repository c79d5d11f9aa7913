// ShareWindow: the share sheet as a desktop window, drawn from the extension's views.
//
// The window plays the platform for the controller's view: its root view is as large as the
// window (in points: pixels over the zoom), and the root's subviews follow a resize as the
// interface file's views do on the device, each stretching along an axis where it spanned more
// than half of the root and keeping its size and relative centre otherwise. The bar draws the
// navigation item over the top of the root view. Everything is read from the views whenever the
// main run loop has run work (it is pumped from Qt's event loop, so the window stays live while
// a send writes on a worker), after a person acted and after a trait change.
//
// Acting: a click on an item, Ctrl+Return (send) and Escape (the left item) tap the bar's items
// as a person does; closing the window taps the left item (and closes even when the extension
// ends nothing), or, while a send is in flight, waits for the send to end. When the request has
// ended: completed or cancelled, the window closes (after a send that no notification service
// announced, it says "Sent to the teleprompter" for a moment first, unless a script acted); a
// failure keeps it up with the reason until the person dismisses it (or, for a script, briefly).
// Ctrl+plus, Ctrl+minus and Ctrl+0 zoom the drawing; the text's point sizes stay as they are.
#pragma once

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <functional>
#include <map>
#include <optional>

#include "host/desktop/DesktopTraits.h"
#include "host/desktop/NavigationBar.h"
#include "host/desktop/ViewRenderer.h"
#include "host/session/ShareSession.h"
#include "platform/foundation/Geometry.h"
#include "platform/ui/TraitCollection.h"

namespace qttext {
class LazyTextView;
}

namespace host::desktop {

using qttext::LazyTextView;

class ShareWindow : public QWidget {
  public:
    static constexpr double kZoomSteps[] = {0.5,  0.67, 0.8,  0.9, 1.0, 1.1,
                                            1.25, 1.5,  1.75, 2.0, 2.5, 3.0};
    static constexpr std::chrono::milliseconds kPumpInterval{10};
    // How long the window says "Sent to the teleprompter" itself, when no notification service
    // answered, before it closes.
    static constexpr std::chrono::milliseconds kSentNoticeShown{1500};

    // The session must have presented its text; it outlives the window.
    explicit ShareWindow(ShareSession& session, QWidget* parent = nullptr);
    ~ShareWindow() override;

    // The person's explicit choices, which win over the desktop's settings.
    struct TraitChoice {
        std::optional<platform::UserInterfaceStyle> appearance;
        std::optional<platform::ContentSizeCategory> textSize;
    };
    // Takes the controller's traits from the desktop's settings now and whenever they change,
    // under `chosen`: light or dark from the colour scheme, else the palette's lightness; the
    // text size from the text scaling, else the platform default.
    void followDesktop(DesktopTraits& desktop, TraitChoice chosen);

    // A new environment for the controller (a trait change when anything differs).
    void setTraits(platform::UserInterfaceStyle appearance, platform::ContentSizeCategory textSize);
    [[nodiscard]] platform::TraitCollection traits() const;

    // Taps the item as a person does. False when the item could not be tapped (disabled).
    bool tap(ShareAction action);

    void zoomIn();
    void zoomOut();
    void resetZoom();
    [[nodiscard]] double zoom() const { return zoom_; }

    // A failure stays shown this long when nobody is there to dismiss it (scripts).
    void setUnattended(std::chrono::milliseconds failureShown) {
        unattended_ = true;
        failureShown_ = failureShown;
    }
    // Runs once when the window has finished (the request ended and the window closed).
    void setFinished(std::function<void()> finished) { finished_ = std::move(finished); }
    [[nodiscard]] bool hasFinished() const { return finishedCalled_; }

    // What the window shows, for tests and screenshots.
    [[nodiscard]] NavigationBar* bar() const { return bar_; }
    [[nodiscard]] LazyTextView* textWidget() const;
    [[nodiscard]] QWidget* activityWidget() const;
    [[nodiscard]] QWidget* failureBanner() const { return banner_; }
    [[nodiscard]] QLabel* failureReason() const { return reason_; }
    [[nodiscard]] QLabel* sentNotice() const { return sentNotice_; }

    // Reads every view again.
    void refresh();

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void pump();
    void setZoomStep(int step);
    void layOut();
    void ended();
    void finish();
    void applyPalette();

    ShareSession& session_;
    ViewRenderer renderer_;
    QWidget* canvas_;
    NavigationBar* bar_;
    QWidget* banner_;
    QLabel* reason_;
    QPushButton* dismiss_;
    QLabel* sentNotice_;
    QTimer pump_;
    int zoomStep_ = 4;
    double zoom_ = 1.0;
    platform::Size designSize_;  // the root view's size the interface file gave it
    std::map<const platform::View*, platform::Rect> design_;  // every view's, likewise
    bool endedSeen_ = false;
    bool failed_ = false;
    bool unattended_ = false;
    std::chrono::milliseconds failureShown_{0};
    bool finishedCalled_ = false;
    std::function<void()> finished_;
};

// The appearance the desktop palette shows: dark when its window colour is dark.
[[nodiscard]] platform::UserInterfaceStyle paletteAppearance(const QPalette& palette);

// The palettes the window uses for the two appearances (unspecified draws as light).
[[nodiscard]] QPalette paletteFor(platform::UserInterfaceStyle appearance);

}  // namespace host::desktop
