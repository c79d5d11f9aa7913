# Installs what makes the "Send to Teleprompter" browser extension work in Debian's browsers,
# for the prefix given at install time (set before this script: QUORVANE_HOST_STAGING,
# QUORVANE_HOST_PROGRAM, the host's path under the prefix, QUORVANE_CHROMIUM_ORIGIN,
# QUORVANE_FIREFOX_ID and QUORVANE_CHROMIUM_D, the file for /etc/chromium.d). The extension's
# own files are installed by install(DIRECTORY) into share/webext/quorvane-share.
#
# The native-messaging host manifests: each names its program by absolute path, so they are
# written now.
#
# Where: for the prefix /usr, where Debian's browsers look for system-wide hosts:
# /etc/chromium/native-messaging-hosts (Chromium) and /usr/lib/mozilla/native-messaging-hosts
# (Firefox ESR). Under any other prefix, PREFIX/etc/chromium/native-messaging-hosts and
# PREFIX/lib/mozilla/native-messaging-hosts, to be linked from the person's own folders
# (~/.config/chromium/NativeMessagingHosts, ~/.mozilla/native-messaging-hosts; see the README).
set(name app.quorvane.teleprompter.share)
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(etc "/etc")
else()
  set(etc "${CMAKE_INSTALL_PREFIX}/etc")
endif()
set(chromium_dir "${etc}/chromium/native-messaging-hosts")
set(firefox_dir "${CMAKE_INSTALL_PREFIX}/lib/mozilla/native-messaging-hosts")
set(program "${CMAKE_INSTALL_PREFIX}/${QUORVANE_HOST_PROGRAM}")
# JSON string escapes for the path: backslash, quote and control characters.
string(REPLACE "\\" "\\\\" quoted "${program}")
string(REPLACE "\"" "\\\"" quoted "${quoted}")
if(quoted MATCHES "[\n\r\t]")
  message(FATAL_ERROR "the install prefix holds a control character; the browser's host manifest cannot name '${program}'")
endif()
set(description "Send to Teleprompter: shares a browser's text through the teleprompter's share window")
file(MAKE_DIRECTORY "${QUORVANE_HOST_STAGING}/chromium" "${QUORVANE_HOST_STAGING}/firefox")
file(WRITE "${QUORVANE_HOST_STAGING}/chromium/${name}.json" "{
  \"name\": \"${name}\",
  \"description\": \"${description}\",
  \"path\": \"${quoted}\",
  \"type\": \"stdio\",
  \"allowed_origins\": [\"${QUORVANE_CHROMIUM_ORIGIN}\"]
}
")
file(WRITE "${QUORVANE_HOST_STAGING}/firefox/${name}.json" "{
  \"name\": \"${name}\",
  \"description\": \"${description}\",
  \"path\": \"${quoted}\",
  \"type\": \"stdio\",
  \"allowed_extensions\": [\"${QUORVANE_FIREFOX_ID}\"]
}
")
file(INSTALL DESTINATION "${chromium_dir}" TYPE FILE PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
  FILES "${QUORVANE_HOST_STAGING}/chromium/${name}.json")
file(INSTALL DESTINATION "${firefox_dir}" TYPE FILE PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
  FILES "${QUORVANE_HOST_STAGING}/firefox/${name}.json")

# The extension where Debian's browsers take system-wide extensions from, as Debian's webext-*
# packages put them: links to share/webext/quorvane-share from share/chromium/extensions (which
# the file in /etc/chromium.d loads) and from Firefox's system extension folder, named by the
# extension's id.
file(INSTALL DESTINATION "${etc}/chromium.d" TYPE FILE RENAME quorvane-share
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ FILES "${QUORVANE_CHROMIUM_D}")
set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
file(MAKE_DIRECTORY "${root}/share/chromium/extensions"
  "${root}/share/mozilla/extensions/{ec8030f7-c20a-464f-9b0e-13a3a9e97384}")
file(REMOVE "${root}/share/chromium/extensions/quorvane-share"
  "${root}/share/mozilla/extensions/{ec8030f7-c20a-464f-9b0e-13a3a9e97384}/${QUORVANE_FIREFOX_ID}")
file(CREATE_LINK ../../webext/quorvane-share "${root}/share/chromium/extensions/quorvane-share" SYMBOLIC)
file(CREATE_LINK ../../../webext/quorvane-share
  "${root}/share/mozilla/extensions/{ec8030f7-c20a-464f-9b0e-13a3a9e97384}/${QUORVANE_FIREFOX_ID}" SYMBOLIC)
