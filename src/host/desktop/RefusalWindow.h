// RefusalWindow: why the share window could not open, for a person who started it from the
// desktop (a menu entry, a file manager) and has no terminal to read standard error in.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

class QLabel;
class QPushButton;

namespace host::desktop {

// The text to share, or why there is none: read from `input` (a path, "-" for standard input)
// when given, else `clipboard`, under the size cap `maxSize`. A refusal's message names the
// input and the reason, ready for a person.
struct Refusal {
    std::string message;
};
[[nodiscard]] std::variant<std::string, Refusal> readShareText(
    const std::optional<std::string>& input, const QString& clipboard, std::uint64_t maxSize);

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
