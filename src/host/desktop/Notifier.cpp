#include "host/desktop/Notifier.h"

#include "host/desktop/DesktopIdentity.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QEventLoop>
#include <QTimer>
#include <QVariantMap>

namespace host::desktop {

bool notifySent(std::string_view titleLine, std::chrono::milliseconds patience) {
    const QString service = QStringLiteral("org.freedesktop.Notifications");
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(service))
        return false;
    // Only the start of a long line is read: never the whole of a large text.
    QString body = QString::fromUtf8(titleLine.substr(0, kNotificationCharacters * 4)).trimmed();
    if (body.size() > static_cast<qsizetype>(kNotificationCharacters))
        body = body.left(static_cast<qsizetype>(kNotificationCharacters)) + QChar(0x2026);
    QDBusMessage message =
        QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/Notifications"),
                                       service, QStringLiteral("Notify"));
    // The body may be read as markup by the service: the title line is given as plain text.
    // The application's name and icon, and the entry's id, by which the desktop groups our
    // notifications under the entry and lets the person silence them in its settings.
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QString(kDesktopEntryId)}};
    message << QString(kApplicationName) << uint(0) << QString(kApplicationIcon)
            << QStringLiteral("Sent to Teleprompter") << body.toHtmlEscaped() << QStringList()
            << hints << int(-1);
    QDBusPendingCallWatcher watcher(bus.asyncCall(message, static_cast<int>(patience.count())));
    QEventLoop loop;
    QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(patience, &loop, &QEventLoop::quit);
    if (!watcher.isFinished())
        loop.exec();
    return watcher.isFinished() && !watcher.isError();
}

}  // namespace host::desktop
