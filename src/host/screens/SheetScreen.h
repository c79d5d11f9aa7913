// SheetScreen: the share sheet in a terminal, operated with keys.
//
//   ✕ Close            Welcome to the evening bulletin           Send to Teleprompter
//   ───────────────────────────────────────────────────────────────────────────────────
//     Welcome to the evening bulletin                      (bold, underlined: larger)
//
//     Welcome to the evening bulletin
//     Good evening, and thank you for joining us.
//   Enter send · Esc close · d light/dark · +/- text size · ↑↓ scroll     Large · light
//
// Every frame is read from the controller's views as they are now: the navigation item's
// title and bar items (the right one dimmed while disabled), the text view's attributed text
// (unless hidden) and the activity indicator (a spinner while it turns). Keys reach the
// extension as the platform delivers a person's actions: a tap on a bar item, or a new trait
// collection for the controller.
//
// How the text view's content is drawn: wrapped to the terminal's width less the text
// container's side insets (kPointsPerColumn points to a column); bold fonts bold; text set
// larger than the smallest text in the view (the title line at the large-title size) is
// underlined, since a terminal has one size of letter; foreground colours as the terminal's
// colour depth allows. Text without a colour of its own is drawn in the text system's
// default, black, as the device draws it. The sheet's background follows the controller's
// appearance: dark for the dark style, light otherwise (the platform resolves an unspecified
// style to light).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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
    void changeTraits(bool switchAppearance, int sizeSteps);
    void scrollBy(std::int64_t lines);

    ShareSession& session_;
    Terminal& terminal_;
    ColourDepth depth_;

    // The wrapped lines of the text view's characters at a width. `source` is held only so
    // that the characters' identity (their storage) stays a sound key: a recolouring shares
    // the characters and keeps the wrapping.
    struct TextLayout {
        platform::AttributedText source;
        int width = -1;
        std::vector<platform::Range> lines;
    };
    TextLayout layout_;
    std::int64_t firstLine_ = 0;    // the first wrapped line shown
    std::int64_t visibleRows_ = 0;  // content rows of the last frame, for paging
};

}  // namespace host
