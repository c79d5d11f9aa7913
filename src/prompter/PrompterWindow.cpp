#include "prompter/PrompterWindow.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QShortcut>
#include <QWindow>
#include <variant>

#include "prompter/ScriptFile.h"
#include "qttext/PlainTextSource.h"

namespace prompter {

PrompterWindow::PrompterWindow(ScriptLibrary& library, ScriptIntake& intake,
                               PrompterSettings settings, PrompterSettings saved,
                               Presentation presentation, std::shared_ptr<const PromptClock> clock,
                               QWidget* parent)
    : QStackedWidget(parent),
      scripts_(library),
      library_(new LibraryView(library, this)),
      prompt_(new PromptView(std::move(clock), this)),
      saved_(std::move(saved)),
      presentation_(presentation) {
    setWindowTitle(QStringLiteral("Teleprompter"));
    setAccessibleName(QStringLiteral("Teleprompter"));
    addWidget(library_);
    addWidget(prompt_);
    prompt_->setSettings(settings);
    library_->setSpeed(prompt_->settings().speed);
    resize(1280, 720);
    saveTimer_.setSingleShot(true);
    saveTimer_.setInterval(500);
    connect(&saveTimer_, &QTimer::timeout, this, &PrompterWindow::saveNow);

    connect(library_, &LibraryView::promptRequested, this,
            [this](const QString& path, std::size_t paragraph) { prompt(path, paragraph); });
    connect(library_, &LibraryView::resetSettingsRequested, this, [this] {
        const bool removed = PrompterSettings::reset();
        saved_ = PrompterSettings{};
        prompt_->setSettings(saved_);
        library_->setSpeed(saved_.speed);
        saveTimer_.stop();  // forgotten means no file, not a file of defaults
        library_->showMessage(
            removed ? QStringLiteral("Settings reset to their defaults.")
                    : QStringLiteral("Cannot remove %1.").arg(PrompterSettings::filePath()));
    });
    connect(prompt_, &PromptView::leaveRequested, this, &PrompterWindow::showLibrary);
    connect(library_, &LibraryView::scriptOpened, this, &PrompterWindow::syncTitle);
    // Ctrl+Q quits from the library, the editor and a prompt alike.
    auto* quit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this);
    quit->setContext(Qt::WindowShortcut);
    connect(quit, &QShortcut::activated, this, &QWidget::close);
    connect(library_, &LibraryView::settingsRequested, this, &PrompterWindow::showSettings);
    connect(library_, &LibraryView::quitRequested, this, &QWidget::close);
    // The speed set in the library is the prompt's: reading times, the next prompt and the
    // saved settings follow it.
    connect(library_, &LibraryView::speedChangeRequested, this,
            [this](double speed) { prompt_->setSpeed(speed); });
    auto* settingsKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma), this);
    settingsKey->setContext(Qt::WindowShortcut);
    connect(settingsKey, &QShortcut::activated, this, &PrompterWindow::showSettings);
    connect(prompt_, &PromptView::speedChanged, this, [this](double speed) {
        saved_.speed = speed;
        library_->setSpeed(speed);
        save();
    });
    connect(prompt_, &PromptView::fontSizeChanged, this, [this](int pixels) {
        saved_.fontSize = pixels;
        save();
    });
    connect(prompt_, &PromptView::mirrorChanged, this, [this](Mirror mirror) {
        saved_.mirror = mirror;
        save();
    });
    connect(&intake, &ScriptIntake::taken, this,
            [this](const QStringList& fileNames) { scripts_.markNew(fileNames); });
    connect(&intake, &ScriptIntake::failed, library_, &LibraryView::showMessage);
    // A script changed on disk (saved in the editor, or by any other program) shows in the
    // running prompt at once, the reading line on the same words.
    connect(&scripts_, &ScriptLibrary::scriptChanged, this, [this](const QString& fileName) {
        if (prompted_.isEmpty() || prompted_ != scripts_.pathOf(fileName))
            return;
        auto read = scripts_.read(fileName);
        if (auto* text = std::get_if<std::shared_ptr<const std::string>>(&read))
            prompt_->replaceScript(std::make_shared<qttext::PlainTextSource>(std::move(*text)));
    });
    // The rest of a script shown while it was read cannot be read: the library says why.
    connect(prompt_, &PromptView::readFailed, this, [this](const QString& message) {
        library_->showMessage(message);
        showLibrary();
    });
    connect(&outside_, &WatchedFile::changed, this, [this] {
        auto read = ScriptFile::read(outside_.path());
        if (auto* text = std::get_if<std::shared_ptr<const std::string>>(&read))
            prompt_->replaceScript(std::make_shared<qttext::PlainTextSource>(std::move(*text)));
    });
}

// Closing keeps what was typed in the editor: saved first (as a new script when its file
// changed meanwhile); when even that fails, the window stays and says why.
void PrompterWindow::closeEvent(QCloseEvent* event) {
    if (const auto failure = library_->editor()->open({})) {
        showLibrary();
        library_->showMessage(*failure);
        event->ignore();
        return;
    }
    if (saveTimer_.isActive())
        saveNow();
    event->accept();
}

// The window's title names the script being prompted or edited.
void PrompterWindow::syncTitle() {
    QString name;
    if (currentWidget() == prompt_ && !promptedName_.isEmpty())
        name = promptedName_;
    else if (!library_->editor()->fileName().isEmpty())
        name = ScriptLibrary::shownName(library_->editor()->fileName());
    setWindowTitle(name.isEmpty() ? QStringLiteral("Teleprompter")
                                  : QStringLiteral("%1 \u2014 Teleprompter").arg(name));
}

SettingsWindow* PrompterWindow::showSettings() {
    if (!settingsWindow_) {
        settingsWindow_ = new SettingsWindow(this);
        settingsWindow_->setModal(false);
        connect(settingsWindow_, &SettingsWindow::changed, this,
                [this](const PrompterSettings& settings) {
                    saved_ = settings;
                    prompt_->setSettings(settings);
                    library_->setSpeed(settings.speed);
                    save();
                    if (isFullScreen() || currentWidget() == prompt_)
                        placeOnScreen();
                    emit settingsChanged(settings);
                });
        emit settingsWindowMade(settingsWindow_);
    }
    settingsWindow_->setMicrophones(microphones_ ? microphones_() : QStringList(),
                                    static_cast<bool>(microphones_));
    PrompterSettings shown = saved_;
    shown.speed = prompt_->settings().speed;
    settingsWindow_->setSettings(shown);
    settingsWindow_->show();
    settingsWindow_->raise();
    return settingsWindow_;
}

PrompterWindow::~PrompterWindow() {
    if (saveTimer_.isActive())
        saveNow();
}

void PrompterWindow::save() {
    saveTimer_.start();
}

void PrompterWindow::saveNow() {
    saveTimer_.stop();
    if (!saved_.save())
        library_->showMessage(
            QStringLiteral("Cannot save the settings in %1.").arg(PrompterSettings::filePath()));
}

bool PrompterWindow::prompt(const QString& path, std::size_t paragraph, Motion motion) {
    // A script of the library is read through its folder (refused when the folder is).
    const QFileInfo info(path);
    const bool inLibrary = info.absolutePath() == QFileInfo(scripts_.folder()).absoluteFilePath();
    // Watched from before it is read, so a change while it is read is not missed.
    outside_.watch(inLibrary ? QString() : path);
    // A big script shows from its start while the rest is read.
    constexpr std::uint64_t kWholeUpTo = PromptView::kIndexedAtOnce;
    constexpr std::uint64_t kHead = PromptView::kHeadBytes;
    auto started = inLibrary ? scripts_.start(info.fileName(), kWholeUpTo, kHead)
                             : ScriptFile::start(path, kWholeUpTo, kHead);
    if (auto* failure = std::get_if<ScriptReadError>(&started)) {
        outside_.watch({});
        library_->showMessage(failure->message);
        showLibrary();
        return false;
    }
    prompt_->setScript(std::get<ScriptFile::Start>(std::move(started)));
    prompted_ = inLibrary ? scripts_.pathOf(info.fileName()) : QString();
    promptedName_ = ScriptLibrary::shownName(info.fileName());
    if (!prompted_.isEmpty())
        scripts_.markSeen(info.fileName());  // prompted: no longer new
    prompt_->jumpToParagraph(paragraph);
    setCurrentWidget(prompt_);
    syncTitle();
    prompt_->setFocus();
    placeOnScreen();
    if (presentation_ == Presentation::fullScreen)
        showFullScreen();
    if (motion == Motion::counted)
        prompt_->start();
    return true;
}

void PrompterWindow::showLibrary() {
    prompt_->pause();
    outside_.watch({});
    setCurrentWidget(library_);
    syncTitle();
    library_->list()->setFocus();
    if (isFullScreen())
        showNormal();
}

// The chosen screen, when there is one with that number.
void PrompterWindow::placeOnScreen() {
    const QList<QScreen*> screens = QGuiApplication::screens();
    int chosen = prompt_->settings().screen;
    // A screen chosen by name is found by name, wherever it is in the list now.
    for (int i = 0; i < screens.size(); ++i)
        if (!prompt_->settings().screenName.isEmpty() &&
            screens[i]->name() == prompt_->settings().screenName)
            chosen = i;
    if (chosen < 0 || chosen >= screens.size())
        return;
    QScreen* screen = screens[chosen];
    if (!windowHandle())
        winId();
    windowHandle()->setScreen(screen);
    move(screen->geometry().topLeft());
    if (presentation_ == Presentation::fullScreen)
        setGeometry(screen->geometry());
}

}  // namespace prompter
