// SaveSignals: a text that was saved is always reported.
//
// From the moment a share's file gets its name in the import folder until the program has
// reported it, the signals that would end the program (SIGINT, SIGTERM, SIGHUP, SIGQUIT) are
// held, and answered once the report is written, with the share's own status: a signal that
// came too late to stop the send does not hide that the text was saved, so the person never
// sends it twice. Before that moment such a signal ends the program as it always did (through
// the terminal's handlers, which give the terminal back), and the file is never named after
// it: nothing is saved. SIGKILL cannot be held; what it interrupted shows in --list.
//
// How: the four signals are blocked in every thread and taken by one watching thread; the
// moment of naming is seen at the platform's system-call seam (the link or rename that gives a
// file a text's name, an upper-case UUID), under the same lock the watcher decides under, so a
// signal and a naming can never both go ahead. A signal the program was started ignoring (or
// blocking) stays so.
#pragma once

namespace host {

class SaveSignals {
  public:
    // Starts the watch. Must be called before the program starts any other thread (each new
    // thread inherits the blocked signals). Once only.
    static void start();

    // While on (the terminal sheet during a send), SIGINT, the person's Ctrl+C, does not end
    // the program but asks the sheet to close, as Esc does: takeCloseRequest() says so once.
    static void setInterruptClosesShare(bool on);
    [[nodiscard]] static bool takeCloseRequest();

    // After the report: `status` when no signal was held or a text was saved (the signal came
    // too late to stop the send); otherwise the held signal acts now as it would have.
    [[nodiscard]] static int answerHeld(int status);
};

}  // namespace host
