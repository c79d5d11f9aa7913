// RefusalWindow: why the share window could not open, for a person who started it from the
// desktop (a menu entry, a file manager) and has no terminal to read standard error in.
#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

class QLabel;
class QPushButton;

namespace host::desktop {

// Why there is no text to share, twice: `message` for standard error (it may name options), and
// `forPerson`, what the window says to someone who started the share from a menu, a file
// manager or a key: what happened and what to do, with no command-line advice.
struct Refusal {
    std::string message;
    std::string forPerson;
};

// The text to share, or why there is none: read from `input` (a path, "-" for standard input)
// when given, else `clipboard`, under the size cap `maxSize`.
[[nodiscard]] std::variant<std::string, Refusal> readShareText(
    const std::optional<std::string>& input, const QString& clipboard, std::uint64_t maxSize);

// The primary selection (the text selected, not copied), as read from the desktop: its bytes,
// or, when the desktop offers no way to read it, why.
struct SelectionRead {
    std::optional<QByteArray> text;  // empty bytes: nothing is selected
    std::string unavailable;         // set when `text` is not
};
// Reads it: on Wayland through `wl-paste --primary` when wl-clipboard is installed, else
// through Qt (X11, and Wayland compositors that Qt reads it from), within `patience`.
[[nodiscard]] SelectionRead readPrimarySelection(std::chrono::milliseconds patience);
// The selection's text to share, or why there is none, under the size cap `maxSize`.
[[nodiscard]] std::variant<std::string, Refusal> selectionShareText(const SelectionRead& read,
                                                                    std::uint64_t maxSize);

// A small window titled with the application's name: "The text was not sent", the reason, and
// Close (the default button; Escape, Return and closing the window do the same).
class RefusalWindow : public QDialog {
    Q_OBJECT
  public:
    explicit RefusalWindow(const QString& reason, QWidget* parent = nullptr);

    [[nodiscard]] QLabel* headline() const { return headline_; }
    [[nodiscard]] QLabel* reason() const { return reason_; }
    [[nodiscard]] QPushButton* closeButton() const { return close_; }

  private:
    QLabel* headline_;
    QLabel* reason_;
    QPushButton* close_;
};

// Whether a refusal must be shown in a window: standard error is not a terminal (nobody reads
// it), nothing was told to act unattended, and there is a display.
[[nodiscard]] bool refusalNeedsAWindow(bool standardErrorIsTerminal, bool unattended);

}  // namespace host::desktop
