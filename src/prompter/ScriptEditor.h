// ScriptEditor: the library's editor, beside the list: one script at a time, as it will be
// prompted (the title line bold, `#` headings bold, `[cues]` in the cue colour), with undo and
// redo, find and replace, and Ctrl+S.
//
// A save is durable: the text goes to a new file beside the script, synced, then renamed over it,
// so the script on disk is the old one or the new one, never half of either. A change made on
// disk by another program shows at once when nothing is being edited here; when both changed,
// the conflict is offered (keep this text over it, take the one on disk, or save this text as a
// new script) and nothing is lost silently. Leaving a script with unsaved edits saves them (as a
// new script when the one on disk changed meanwhile). A script over kEditableBytes is not
// loaded for editing: it shows read-only, laid out only where it shows, and the editor says why.
//
// The editor is the library's one view of a script: what it shows is read once, through the
// library, and those bytes are what a prompt of the script starts from. A paragraph is chosen
// by the cursor (or, read-only, by a click) for prompting to start at.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QWidget>
#include <optional>

#include "prompter/ScriptLibrary.h"
#include "qttext/LazyTextView.h"

namespace prompter {

class ScriptEditor : public QWidget {
    Q_OBJECT

  public:
    static constexpr qint64 kEditableBytes = 20 << 20;

    ScriptEditor(ScriptLibrary& library, QWidget* parent = nullptr);

    // Opens `fileName` of the library (empty: nothing); unsaved edits of the one open are saved
    // first (see above). The failure in words, or nothing.
    std::optional<QString> open(const QString& fileName);
    [[nodiscard]] const QString& fileName() const { return fileName_; }
    // Saves the text over the script; the failure in words, or nothing. Refused while a
    // conflict is offered.
    std::optional<QString> save();
    [[nodiscard]] bool isModified() const;
    [[nodiscard]] bool isReadOnly() const { return text_->isReadOnly(); }
    [[nodiscard]] bool hasConflict() const { return !conflict_->isHidden(); }
    [[nodiscard]] QPlainTextEdit* text() const { return text_; }
    // Where a script too large to edit shows (read-only).
    [[nodiscard]] qttext::LazyTextView* readOnlyView() const { return large_; }
    // The paragraphs of the script shown, and the one the cursor is in (from 0).
    [[nodiscard]] std::size_t paragraphCount() const;
    [[nodiscard]] std::size_t currentParagraph() const;
    [[nodiscard]] QLineEdit* findField() const { return find_; }
    [[nodiscard]] QLineEdit* replaceField() const { return replace_; }
    [[nodiscard]] QString status() const { return status_->text(); }

    // Finds the next match of the find field after the cursor (wrapping); whether one was found.
    bool findNext();
    // Replaces the match selected (if it is one) and finds the next.
    bool replaceNext();
    // Replaces every match, as one step to undo; how many.
    int replaceAll();

    // The conflict's three ways out.
    std::optional<QString> keepMine();
    void takeTheirs();
    std::optional<QString> saveMineAsNew();

    // The library's folder changed this script on disk.
    void changedOnDisk(const QString& fileName);

  signals:
    void saved(const QString& fileName);
    void message(const QString& text);
    // The cursor moved to another paragraph (from 0).
    void paragraphChanged(std::size_t paragraph);
    // A paragraph of a read-only script was clicked: prompting starts there.
    void paragraphClicked(std::size_t paragraph);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct Stamp {
        qint64 inode = -1;
        qint64 bytes = -1;
        qint64 modifiedNs = -1;
        friend bool operator==(const Stamp&, const Stamp&) = default;
    };
    [[nodiscard]] std::optional<Stamp> stampOnDisk() const;
    void load(const std::shared_ptr<const std::string>& bytes);
    void showConflict(const QString& why);

    ScriptLibrary& library_;
    QString fileName_;
    std::optional<Stamp> stamp_;  // of the file as last read or saved
    QLabel* status_;
    QWidget* conflict_;
    QLabel* conflictText_;
    QStackedWidget* pages_;
    QPlainTextEdit* text_;
    qttext::LazyTextView* large_;
    QLineEdit* find_;
    QLineEdit* replace_;
    QPushButton* save_;
};

}  // namespace prompter
