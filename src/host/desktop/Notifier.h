// Notifier: tells the person, through the desktop's notification service
// (org.freedesktop.Notifications on the session bus), that a text was sent.
#pragma once

#include <QString>
#include <chrono>
#include <string_view>

namespace host::desktop {

// Sends "Sent to Teleprompter" with the text's title line as the body, where a notification
// service runs, running Qt's events for at most `patience` while it answers. True when the
// service took it. Nothing happens without a session bus or a service. A long title line is
// cut to its first kNotificationCharacters characters.
inline constexpr std::size_t kNotificationCharacters = 200;
bool notifySent(std::string_view titleLine, std::chrono::milliseconds patience);

}  // namespace host::desktop
