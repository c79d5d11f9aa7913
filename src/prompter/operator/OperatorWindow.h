// OperatorWindow: what the operator sees on their own screen while the presenter's screen shows
// the prompt alone.
//
// The whole script in the editor, the paragraph at the reading line shaded and its line marked,
// following the prompt live (while the editor has no keyboard focus, so an operator typing is
// never scrolled away); the lines read now and next; the sections, a click jumping to one; the
// state (counting down, running, paused, following the voice, at the end), the speed, the time
// elapsed and left, and a clock; a button for every control. A save in the editor (Ctrl+S)
// reaches the prompt the way every edit does, through the library's folder: the reading line
// stays on the same words, so an edit below it changes nothing on the presenter's screen until
// it scrolls into view. A script prompted from outside the library shows read-only here.
//
// Every control goes through the same seam as the phone remote (PromptRemote), so the operator
// and a remote can never disagree about what a command does. Keys the window does not use
// (a clicker's PageDown, Space, the arrows) go to the prompt as if it had the focus.
#pragma once

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QWidget>

#include "prompter/PromptView.h"
#include "prompter/ScriptEditor.h"
#include "prompter/ScriptLibrary.h"
#include "prompter/remote/PromptRemote.h"

namespace prompter::operate {

class OperatorWindow : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kRefreshMs = 100;  // at most ten refreshes a second

    OperatorWindow(remote::PromptRemote& control, PromptView& view, ScriptLibrary& library,
                   QWidget* parent = nullptr);

    // Opens the script being prompted, read from `path`, in the editor (see above).
    void showScript(const QString& path);
    // The remote's page address, token included, shown beside its QR code; empty: none.
    void setRemoteAddress(const QString& address);
    // Brings everything shown up to date now (while shown).
    void refresh();

    [[nodiscard]] ScriptEditor* editor() const { return editor_; }
    [[nodiscard]] QListWidget* sectionList() const { return sections_; }
    [[nodiscard]] QSpinBox* speedBox() const { return speed_; }
    [[nodiscard]] QSpinBox* paragraphBox() const { return paragraph_; }
    // The button whose text is `text` (without its & mnemonic), for tests.
    [[nodiscard]] QPushButton* button(const QString& text) const;
    // The state as shown: "Running", "Paused", ...
    [[nodiscard]] QString stateText() const { return state_->text(); }
    [[nodiscard]] QString timesText() const { return times_->text(); }
    [[nodiscard]] QString linesText() const { return lines_->text(); }
    [[nodiscard]] QString message() const { return message_->text(); }
    // The editor's paragraph shaded as the one at the reading line (from 0); -1: none.
    [[nodiscard]] int highlightedParagraph() const { return highlighted_; }

  signals:
    void leaveRequested();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void send(const remote::Command& command);
    void scheduleRefresh();
    // Whether `path` names a script of the library (which the editor opens) or not.
    [[nodiscard]] bool inLibrary(const QString& path) const;
    void highlight(int paragraph, double fraction);
    [[nodiscard]] QPushButton* addButton(const QString& text, const QString& tip,
                                         remote::CommandKind kind, double value = 0);

    remote::PromptRemote& control_;
    PromptView& view_;
    ScriptLibrary& library_;
    QString path_;
    QLabel* state_;
    QLabel* times_;
    QLabel* clock_;
    QLabel* message_;
    ScriptEditor* editor_;
    QLabel* lines_;
    QListWidget* sections_;
    QSpinBox* speed_;
    QSpinBox* paragraph_;
    QPushButton* pause_ = nullptr;
    QWidget* remotePanel_;
    QLabel* qr_;
    QLabel* address_;
    QList<QPushButton*> buttons_;
    QTimer refreshTimer_;
    QTimer clockTimer_;
    std::vector<std::string> sectionTitles_;
    int highlighted_ = -1;
    int highlightedLine_ = -1;
};

}  // namespace prompter::operate
