// NavigationBar: a navigation item drawn as the sheet's bar: the left bar item, the title in
// the middle, the right bar item; each item shown as its title or its system item's name, and
// enabled as the item is. A click on an enabled item taps it.
#pragma once

#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <functional>
#include <memory>

#include "platform/ui/NavigationItem.h"
#include "platform/ui/ViewController.h"

namespace host::desktop {

class NavigationBar : public QWidget {
  public:
    static constexpr double kHeight = 56.0;  // points: the band over the top of the root view
    // Characters of a long title kept for the bar (it is elided to the bar's width anyway).
    static constexpr std::size_t kTitleCharacters = 200;

    explicit NavigationBar(QWidget* parent = nullptr);

    // Reads the controller's navigation item again.
    void sync(const std::shared_ptr<platform::ViewController>& controller, double zoom);
    // Runs after a click delivered a tap.
    void setTapped(std::function<void()> tapped) { tapped_ = std::move(tapped); }

    [[nodiscard]] QPushButton* leftButton() const { return left_; }
    [[nodiscard]] QPushButton* rightButton() const { return right_; }
    [[nodiscard]] QLabel* titleLabel() const { return title_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void place();
    void tap(bool right);

    std::weak_ptr<platform::ViewController> controller_;
    QPushButton* left_;
    QPushButton* right_;
    QLabel* title_;
    QString fullTitle_;
    double zoom_ = 1.0;
    std::function<void()> tapped_;
};

// What a bar item shows: its title, or the name of its system item.
[[nodiscard]] QString barItemText(const platform::BarButtonItem& item);

}  // namespace host::desktop
