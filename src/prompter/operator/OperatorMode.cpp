#include "prompter/operator/OperatorMode.h"

#include <QGuiApplication>
#include <QTimer>
#include <QWindow>

namespace prompter::operate {

OperatorMode::OperatorMode(PrompterWindow& window, remote::PromptRemote& control,
                           ScriptLibrary& library, QObject* parent)
    : QObject(parent), window_(window), control_(control), library_(library) {
    connect(&window_, &QStackedWidget::currentChanged, this, [this] {
        // Where the library is as prompting begins, before the prompt moves the window.
        if (window_.currentWidget() == window_.promptView() &&
            !(operator_ && operator_->isVisible()))
            libraryScreen_ = window_.screen();
        scheduleSync();
    });
    connect(window_.promptView(), &PromptView::scriptChanged, this, &OperatorMode::scheduleSync);
    connect(qApp, &QGuiApplication::screenAdded, this, &OperatorMode::scheduleSync);
    connect(qApp, &QGuiApplication::screenRemoved, this, &OperatorMode::scheduleSync);
    scheduleSync();  // made while prompting already
}

OperatorMode::~OperatorMode() = default;

QScreen* OperatorMode::presenterScreen(const PrompterSettings& settings) {
    const QList<QScreen*> screens = QGuiApplication::screens();
    int chosen = settings.screen;
    for (int i = 0; i < screens.size(); ++i)
        if (!settings.screenName.isEmpty() && screens[i]->name() == settings.screenName)
            chosen = i;
    return chosen >= 0 && chosen < screens.size() ? screens[chosen] : nullptr;
}

void OperatorMode::setRemoteAddress(const QString& address) {
    remoteAddress_ = address;
    if (operator_)
        operator_->setRemoteAddress(address);
}

// After the event that asked for it has run its course: the prompt has its script and its
// screen by then.
void OperatorMode::scheduleSync() {
    if (syncQueued_)
        return;
    syncQueued_ = true;
    QTimer::singleShot(0, this, &OperatorMode::sync);
}

void OperatorMode::sync() {
    syncQueued_ = false;
    if (QWindow* handle = window_.windowHandle();
        handle && !handle->property("quorvaneOperatorWatched").toBool()) {
        handle->setProperty("quorvaneOperatorWatched", true);
        // A screen chosen anew in the settings window moves the prompt: the operator follows.
        connect(handle, &QWindow::screenChanged, this, &OperatorMode::scheduleSync);
    }
    const bool prompting = window_.currentWidget() == window_.promptView();
    QScreen* presenter = prompting ? presenterScreen(window_.promptView()->settings()) : nullptr;
    QScreen* place = nullptr;
    if (presenter && QGuiApplication::screens().size() > 1) {
        if (libraryScreen_ && libraryScreen_ != presenter)
            place = libraryScreen_;
        for (QScreen* screen : QGuiApplication::screens())
            if (!place && screen != presenter)
                place = screen;
    }
    if (!place) {
        if (operator_ && operator_->isVisible()) {
            operator_->hide();
            // The library comes back on the screen the operator works at.
            if (!prompting && operatorScreen_ && window_.windowHandle()) {
                window_.windowHandle()->setScreen(operatorScreen_);
                window_.move(operatorScreen_->availableGeometry().topLeft());
                window_.activateWindow();
            }
        }
        return;
    }
    if (!operator_) {
        operator_ = std::make_unique<OperatorWindow>(control_, *window_.promptView(), library_);
        operator_->setRemoteAddress(remoteAddress_);
        connect(operator_.get(), &OperatorWindow::leaveRequested, &window_,
                &PrompterWindow::showLibrary);
    }
    if (!operator_->isVisible() || control_.path() != shownPath_) {
        shownPath_ = control_.path();
        operator_->showScript(shownPath_);
    }
    operatorScreen_ = place;
    operator_->winId();
    operator_->windowHandle()->setScreen(place);
    // The whole screen, frame included; maximized where a window manager does that.
    const QRect frame = operator_->frameGeometry();
    const QRect inside = operator_->geometry();
    operator_->setGeometry(place->availableGeometry().adjusted(
        inside.left() - frame.left(), inside.top() - frame.top(), inside.right() - frame.right(),
        inside.bottom() - frame.bottom()));
    if (!operator_->isVisible()) {
        operator_->showMaximized();
        operator_->raise();
        operator_->activateWindow();
    }
}

}  // namespace prompter::operate
