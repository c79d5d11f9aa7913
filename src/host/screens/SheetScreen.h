// SheetScreen: the share sheet in a terminal, operated with keys.
//
//   ✕ Close            Welcome to the evening bulletin           Send to Teleprompter
//   ───────────────────────────────────────────────────────────────────────────────────
//     Welcome to the evening bulletin                      (bold, underlined: larger)
//
//     Welcome to the evening bulletin
//     Good evening, and thank you for joining us.
//   Enter send · Esc close · d light/dark · ^Z suspend               Top · Large · light
//
// Ctrl+Z suspends the sheet (the terminal is given back until the program is continued).
// Ctrl+C leaves the sheet with the request open, except during a send: then it closes the sheet
// as Esc does, once the send has ended (see SaveSignals).
//
// Every frame is read from the controller's views as they are now: the navigation item's
// title and bar items (the right one dimmed while disabled), the text view's attributed text
// (unless hidden) and the activity indicator (a spinner while it turns). Keys reach the
// extension as the platform delivers a person's actions: a tap on a bar item, or a new trait
// collection for the controller.
//
// The text view's content is drawn by a TextPane. The sheet's background follows the
// controller's appearance: dark for the dark style, light otherwise (the platform resolves an
// unspecified style to light).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/screens/TextPane.h"
#include "host/session/ShareSession.h"
#include "host/tty/Terminal.h"
#include "platform/foundation/AttributedText.h"

namespace host {

class SheetScreen {
  public:
    SheetScreen(ShareSession& session, Terminal& terminal);

    // Takes the terminal over and shows the sheet, handling keys and running the main queue's
    // work between them, until the extension ends the request; then lets the work in flight
    // finish and gives the terminal back. A terminal that goes away closes the sheet.
    void run();

  private:
    [[nodiscard]] std::vector<std::string> render(int rows, int columns);
    void handle(const Key& key);
    void send();
    void changeTraits(bool switchAppearance, int sizeSteps);

    ShareSession& session_;
    Terminal& terminal_;
    ColourDepth depth_;

    TextPane pane_;
    std::int64_t visibleRows_ = 0;  // content rows of the last frame, for paging
};

}  // namespace host
