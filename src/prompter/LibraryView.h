// LibraryView: the person's scripts, newest first, with the one selected open in the editor.
//
// Each row: the script's name (marked when new), when it arrived, its length and its reading time
// at the current speed; the rows are the library's model, so a change to the folder touches only
// its own rows and the selection and scroll position stay. The script selected is open in the
// editor beside the list (its one view: what it shows is what is prompted); the paragraph of the
// editor's cursor, a click in a read-only script, or a paragraph number is where prompting
// starts. A change to it on disk shows in the editor at once. Failures show in a message line at
// the top, never in a dialog that hides the list; a scripts folder refused is said there for as
// long as it lasts. A menu bar holds every action of the window (File, Edit, View, Settings) and,
// under Help, the keys; a key shown in a menu is the one that works, whichever control has the
// focus.
#pragma once

#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeView>
#include <QWidget>

#include "prompter/ScriptEditor.h"
#include "prompter/ScriptLibrary.h"

namespace prompter {

class LibraryView : public QWidget {
    Q_OBJECT

  public:
    explicit LibraryView(ScriptLibrary& library, QWidget* parent = nullptr);

    void setSpeed(double wordsPerMinute);
    void showMessage(const QString& message);
    // Takes back the last script moved to the trash (offered beside the message that says so).
    void undoDelete();
    [[nodiscard]] QString message() const { return message_->text(); }
    [[nodiscard]] QTreeView* list() const { return list_; }
    [[nodiscard]] QSpinBox* speedBox() const { return speedBox_; }
    // The text of `column` on `row`, as shown.
    [[nodiscard]] QString rowText(int row, int column = ScriptLibrary::kName) const;
    [[nodiscard]] ScriptEditor* editor() const { return editor_; }
    [[nodiscard]] QString selectedFile() const;
    void select(const QString& fileName);
    [[nodiscard]] QMenuBar* menuBar() const { return menuBar_; }
    // The controls, for tests and for accessibility checks.
    [[nodiscard]] QList<QWidget*> controls() const;

  signals:
    // The script open in the editor changed (empty: none).
    void scriptOpened(const QString& fileName);
    // Prompting `path` from paragraph `paragraph` (counted from 0).
    void promptRequested(const QString& path, std::size_t paragraph);
    void resetSettingsRequested();
    void settingsRequested();
    // The person set the speed in the library.
    void speedChangeRequested(double wordsPerMinute);
    void quitRequested();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void libraryChanged();
    void openSelected();
    // The paragraph number follows the paragraphs of the script open.
    void syncParagraphs();
    void promptSelected();
    void renameSelected();
    void deleteSelected();
    void openFile();
    void pasteClipboard();
    void newScript();
    void makeMenus();
    void showKeys();

    ScriptLibrary& library_;
    double speed_ = 140;
    QMenuBar* menuBar_;
    QLabel* message_;
    QTreeView* list_;
    ScriptEditor* editor_;
    QSpinBox* paragraph_;
    QPushButton* prompt_;
    QPushButton* rename_;
    QPushButton* delete_;
    QPushButton* open_;
    QPushButton* paste_;
    QPushButton* reset_;
    QPushButton* undo_;
    QPushButton* settings_;
    QSpinBox* speedBox_;
    QString trashed_;      // where the last deleted script is in the trash
    QString trashedName_;  // and its name
    bool autoSelecting_ = false;
    QString refusedShown_;  // the refusal shown in the message line, to clear when it ends
};

}  // namespace prompter
