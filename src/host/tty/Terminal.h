// Terminal: the person's terminal (/dev/tty), taken over for an interactive screen and given
// back however the program ends.
//
// Only a terminal whose description (terminfo, by TERM) says how to move its cursor can be
// taken over; every sequence written is the one its description gives.
//
// While a Terminal is entered, the terminal shows the alternate screen with the cursor hidden
// and reads keys one by one without echo (Ctrl+C still interrupts; the output flow control that
// would swallow Ctrl+S is off). Leaving puts the mode, the screen and the cursor back as they
// were. That also happens on a normal return, an exception that unwinds past the Terminal,
// Ctrl+C and every signal whose default action ends the program (SIGTERM, SIGHUP, SIGQUIT,
// SIGUSR1, SIGALRM, SIGXCPU, the real-time signals, SIGSEGV, SIGABRT, ...): their handlers
// restore the terminal, then let the signal act as it would have. A signal the program ignores
// stays ignored. Ctrl+Z suspends: the terminal is given back, the program stops, and when it is
// continued the terminal is taken over again and the next frame is drawn whole.
//
// The first time it is entered, the terminal is asked how wide it draws a few characters
// (see widthProbes), and every width the screens use follows the rule it answers with.
//
// Keys come from /dev/tty, not from standard input, so the text to share can arrive on
// standard input while the person types on the terminal. Screens draw on /dev/tty too, which
// leaves standard output for the outcome.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/tty/KeyDecoder.h"
#include "host/tty/TerminalCapabilities.h"
#include "host/tty/TerminalPaint.h"

namespace host {

class Terminal {
  public:
    // Enters a terminal for a scope and leaves it however the scope ends.
    class Session {
      public:
        explicit Session(Terminal& terminal) : terminal_(terminal) { terminal_.enter(); }
        ~Session() { terminal_.leave(); }
        Session(const Session&) = delete;
        Session& operator=(const Session&) = delete;

      private:
        Terminal& terminal_;
    };

    // The controlling terminal, not yet entered; null (with a message) when the process has
    // none, or when TERM names no terminal whose cursor can be moved (unset, unknown, "dumb").
    static std::unique_ptr<Terminal> open(std::string* problem);
    ~Terminal();
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    // Takes the terminal over (see above). Only one Terminal is entered at a time.
    void enter();
    // Gives it back; does nothing when not entered. Also run by the destructor.
    void leave();
    // Enters, and shows `line` alone at the top of the screen (for instance while the text is
    // read).
    void showMessage(std::string_view line);
    // Drops the keys typed so far: nobody can have meant them for a screen not yet shown.
    void discardTypedKeys();

    // Rows and columns; 24 x 80 when the terminal does not say.
    [[nodiscard]] int rows() const;
    [[nodiscard]] int columns() const;
    // The colour depth for this terminal and environment (see colourDepthFor).
    [[nodiscard]] ColourDepth colourDepth() const { return depth_; }

    // Writes all of `bytes` to the terminal.
    void write(std::string_view bytes);
    // Shows a frame of rows (each exactly as wide as the screen, from the top), writing only
    // the rows that differ from the frame shown before. After a resize, or redrawAll, every
    // row is written again.
    void present(const std::vector<std::string>& rows);
    void redrawAll() { shown_.clear(); }

    // Waits up to `timeout` for input and returns the keys it made (often none). A lone Esc is
    // told from the start of a key's sequence by a short quiet time after it.
    std::vector<Key> readKeys(std::chrono::milliseconds timeout);
    // True once after the window's size changed (SIGWINCH); the next frame is drawn whole.
    bool takeResize();
    // True when the terminal has gone (it was hung up): no more keys will come.
    [[nodiscard]] bool isGone() const { return gone_; }

  private:
    Terminal(int fd, TerminalCapabilities capabilities);
    void askWidthRule();

    int fd_;
    TerminalCapabilities caps_;
    bool entered_ = false;
    bool gone_ = false;
    bool resized_ = false;
    bool widthsAsked_ = false;
    ColourDepth depth_;
    std::string pending_;             // bytes of a key not yet complete
    std::vector<std::string> shown_;  // the rows on screen
};

}  // namespace host
