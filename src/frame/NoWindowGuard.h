// NoWindowGuard: a program with windows says why it cannot open one, instead of stopping.
#pragma once

namespace frame {

// Qt stops the process (an abort and a core dump, with advice to reinstall) when no platform it
// tries can open: a DISPLAY naming an X server that is gone, a WAYLAND_DISPLAY left over from
// another session, a Wayland desktop without Qt's Wayland platform installed and no X server
// beside it. While a guard is up, that fatal message becomes "PROGRAM: cannot open a window:
// WHY" on standard error and the exit status the program gives for a display it cannot use;
// every other message of Qt's goes where it went before. Raise it just before the application
// object is made and lower it just after: a fatal message later is Qt's own to handle.
class NoWindowGuard {
  public:
    NoWindowGuard(const char* program, int status);
    ~NoWindowGuard() { lower(); }
    NoWindowGuard(const NoWindowGuard&) = delete;
    NoWindowGuard& operator=(const NoWindowGuard&) = delete;

    void lower();

  private:
    bool raised_ = true;
};

}  // namespace frame
