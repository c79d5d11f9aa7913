#include "frame/NoWindowGuard.h"

#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace frame {

namespace {

// One guard at a time: the application object is made once.
const char* guardedProgram = nullptr;
int guardedStatus = 0;
QtMessageHandler previousHandler = nullptr;

std::string environmentWords(const char* name) {
    const char* value = std::getenv(name);
    return std::string(name) + (value && *value ? "='" + std::string(value) + "'" : " unset");
}

void onMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    // Only the platform's failure to start is ours to say; anything else stays Qt's.
    if (type != QtFatalMsg || guardedProgram == nullptr ||
        !message.contains(QLatin1String("platform plugin"))) {
        if (previousHandler != nullptr)
            previousHandler(type, context, message);
        else
            std::fprintf(stderr, "%s\n",
                         qFormatLogMessage(type, context, message).toLocal8Bit().constData());
        return;  // after a fatal message Qt stops the process itself
    }
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    std::fprintf(stderr, "%s: cannot open a window: no display could be opened (%s, %s)%s\n",
                 guardedProgram, environmentWords("DISPLAY").c_str(),
                 environmentWords("WAYLAND_DISPLAY").c_str(),
                 wayland && *wayland ? "; on a Wayland desktop, Qt's Wayland platform (Debian's "
                                       "qt6-wayland) may be missing"
                                     : "");
    std::fflush(stderr);
    // Nothing of the program's has been written yet: leave without Qt's abort.
    std::_Exit(guardedStatus);
}

}  // namespace

NoWindowGuard::NoWindowGuard(const char* program, int status) {
    guardedProgram = program;
    guardedStatus = status;
    previousHandler = qInstallMessageHandler(onMessage);
}

void NoWindowGuard::lower() {
    if (!raised_)
        return;
    raised_ = false;
    qInstallMessageHandler(previousHandler);
    guardedProgram = nullptr;
    previousHandler = nullptr;
}

}  // namespace frame
