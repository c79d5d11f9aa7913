// OperatorMode: where the operator's window goes, and when.
//
// While a script is prompted on a presenter's screen (one chosen in the settings window or with
// --screen) and another screen is there, the operator's window shows on that other screen (the
// one the library was on, when it is not the presenter's), and the presenter's screen shows the
// prompt alone. With one screen, or no screen chosen, nothing changes: the library's prompting
// mode is the whole story. Leaving the prompt hides the operator's window and brings the library
// back to the operator's screen. Screens plugged in or out while prompting are followed.
#pragma once

#include <QObject>
#include <QPointer>
#include <QScreen>
#include <memory>

#include "prompter/PrompterSettings.h"
#include "prompter/PrompterWindow.h"
#include "prompter/ScriptLibrary.h"
#include "prompter/operator/OperatorWindow.h"
#include "prompter/remote/PromptRemote.h"

namespace prompter::operate {

class OperatorMode : public QObject {
    Q_OBJECT

  public:
    OperatorMode(PrompterWindow& window, remote::PromptRemote& control, ScriptLibrary& library,
                 QObject* parent = nullptr);
    ~OperatorMode() override;

    // The presenter's screen the settings name (by name first, then by number); null when they
    // name none, or one that is not there.
    [[nodiscard]] static QScreen* presenterScreen(const PrompterSettings& settings);
    // The operator's window, made when first shown; null before.
    [[nodiscard]] OperatorWindow* window() const { return operator_.get(); }
    // The remote's page address for the operator's window (empty: the remote is off).
    void setRemoteAddress(const QString& address);
    // Shows or hides the operator's window as the screens and the prompt now say.
    void sync();

  private:
    void scheduleSync();

    PrompterWindow& window_;
    remote::PromptRemote& control_;
    ScriptLibrary& library_;
    std::unique_ptr<OperatorWindow> operator_;
    QPointer<QScreen> libraryScreen_;  // where the library was when prompting began
    QPointer<QScreen> operatorScreen_;
    QString shownPath_;
    QString remoteAddress_;
    bool syncQueued_ = false;
};

}  // namespace prompter::operate
