// PrompterWindow: the library and the prompting view, one at a time, in one window.
//
// Prompting fills the chosen screen (unless the person asked for a window); Escape comes back to
// the library as it was. The settings the person changes while prompting (speed, size, mirror)
// are saved as they change; values given on the command line hold for this run only. A change
// on disk to the script prompted shows in the prompt at once, whether it is the library's or a
// file opened from elsewhere.
#pragma once

#include <QStackedWidget>
#include <QTimer>
#include <functional>
#include <memory>

#include "prompter/LibraryView.h"
#include "prompter/PromptClock.h"
#include "prompter/PromptView.h"
#include "prompter/PrompterSettings.h"
#include "prompter/ScriptIntake.h"
#include "prompter/ScriptLibrary.h"
#include "prompter/SettingsWindow.h"
#include "prompter/WatchedFile.h"

namespace prompter {

enum class Presentation { fullScreen, window };
enum class Motion { counted, still };  // still: shown at its start, for a screenshot

class PrompterWindow : public QStackedWidget {
    Q_OBJECT

  public:
    PrompterWindow(ScriptLibrary& library, ScriptIntake& intake, PrompterSettings settings,
                   PrompterSettings saved, Presentation presentation,
                   std::shared_ptr<const PromptClock> clock, QWidget* parent = nullptr);
    ~PrompterWindow() override;  // writes settings changed in the last moment

    // Reads `path` and prompts it from `paragraph`; false (and a message in the library) when it
    // cannot be read.
    bool prompt(const QString& path, std::size_t paragraph = 0, Motion motion = Motion::counted);
    void showLibrary();

    [[nodiscard]] LibraryView* library() const { return library_; }
    [[nodiscard]] PromptView* promptView() const { return prompt_; }
    [[nodiscard]] const PrompterSettings& savedSettings() const { return saved_; }
    // The settings window (from the library's button, or Ctrl+Comma anywhere), made when first
    // shown: each change reaches the prompt and the saved settings at once.
    SettingsWindow* showSettings();
    // Where this build follows a voice: the microphones there are, for the settings window.
    void setMicrophones(std::function<QStringList()> list) { microphones_ = std::move(list); }

  signals:
    // The person changed the settings in the settings window.
    void settingsChanged(const prompter::PrompterSettings& settings);
    // The settings window was made (once, when first shown): other rooms add their rows to it.
    void settingsWindowMade(prompter::SettingsWindow* window);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    // A change of the settings is written half a second after the last one: a held key or a
    // turned wheel changes the speed many times a second, and each write syncs a file, which
    // must not hold up the frames on screen. Closing and destroying the window write at once.
    void save();
    void saveNow();
    void syncTitle();
    void placeOnScreen();

    ScriptLibrary& scripts_;
    QString prompted_;      // the library's file being prompted
    QString promptedName_;  // the name of what is prompted, as shown
    WatchedFile outside_;   // a script prompted from outside the library
    LibraryView* library_;
    PromptView* prompt_;
    PrompterSettings saved_;
    Presentation presentation_;
    SettingsWindow* settingsWindow_ = nullptr;
    std::function<QStringList()> microphones_;
    QTimer saveTimer_;
};

}  // namespace prompter
