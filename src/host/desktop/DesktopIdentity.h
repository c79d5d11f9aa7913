// DesktopIdentity: the share window's one name and its identity on the desktop. The menu entry,
// the AppStream listing, the window's title and the notifications all say the same name, and the
// desktop matches windows and notifications to the entry by its id.
#pragma once

namespace host::desktop {

// The desktop entry's id (its file name without ".desktop") and the AppStream component id:
// reverse-DNS under the teleprompter's own domain.
inline constexpr const char* kDesktopEntryId = "app.quorvane.teleprompter.share";
// What people see: the menu entry's Name, the window title, the notifications' application.
inline constexpr const char* kApplicationName = "Send to Teleprompter";
// The icon theme name of the entry's icon.
inline constexpr const char* kApplicationIcon = "quorvane-share";

}  // namespace host::desktop
