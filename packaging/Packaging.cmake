# Installation and Debian packages.
#
# Installed layout (under the prefix, /usr in the packages):
#   bin/quorvane-share, bin/quorvane-receive, bin/quorvane-share-desktop, bin/quorvane-prompter
#   lib/quorvane/libquorvane_platform.so
#   lib/quorvane/QuorvaneShareExt.appex/{Info.json,MainInterface.json,libQuorvaneShareExt.so}
#   share/man/man1/*.1.gz, share/bash-completion/completions/*,
#   lib/systemd/user/quorvane-receive.{path,service} (disabled until a person turns them on;
#     share/systemd/user under a prefix other than /usr),
#   share/applications/app.quorvane.teleprompter.share.desktop,
#   share/applications/app.quorvane.teleprompter.desktop (the teleprompter),
#   share/metainfo/app.quorvane.teleprompter{.share,}.metainfo.xml,
#   share/kio/servicemenus/app.quorvane.teleprompter.share.desktop,
#   share/nemo/actions/app.quorvane.teleprompter.share.nemo_action,
#   share/nautilus-python/extensions/quorvane-share-nautilus.py (GNOME Files),
#   share/webext/quorvane-share/ (the browser extension), linked from share/chromium/extensions
#     and share/mozilla/extensions/{ec8030f7-...}/, lib/quorvane/quorvane-browser-host,
#   /etc/chromium/native-messaging-hosts/, lib/mozilla/native-messaging-hosts/ (the host's
#     manifests) and /etc/chromium.d/quorvane-share (PREFIX/etc under a prefix other than /usr),
#   share/icons/hicolor/scalable/apps/quorvane-share.svg,
#   share/doc/<package>/{copyright,changelog.Debian.gz}
#
# The hosts find the bundle at <their folder>/../lib/quorvane/, and every program and module
# finds the platform library through a run path relative to itself ($ORIGIN), so an installed
# tree works wherever it is unpacked, with no environment variable. That is why the private
# folder is lib/quorvane and not the multiarch library folder: its place relative to bin/ is
# part of the promise.
#
# Three packages, each installable alone with only what it needs: quorvane-share (the command
# line, the receiver and the extension; no Qt, so a server can have it),
# quorvane-share-desktop (the window and every way into it from the desktop), which depends on
# the first, and quorvane-prompter (the teleprompter), which needs neither. The last two exist
# only where Qt 6 is found; scripts/package.sh refuses to build a partial set.
include(GNUInstallDirs)

set(QUORVANE_INSTALL_PRIVATE_LIBDIR lib/quorvane)
set(QUORVANE_INSTALL_BUNDLEDIR ${QUORVANE_INSTALL_PRIVATE_LIBDIR}/QuorvaneShareExt.appex)
set(QUORVANE_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
# The manual pages carry the project's version and the installed paths of the prefix they are
# built for (the packages are built for /usr: scripts/package.sh), with groff's hyphens
# escaped; they are installed compressed, as man-db reads them (-n: no time stamp, so the same
# page gives the same bytes).
foreach(path BINDIR DATADIR)
  string(REPLACE "-" "\\-" QUORVANE_MAN_${path} "${CMAKE_INSTALL_FULL_${path}}")
endforeach()
string(REPLACE "-" "\\-" QUORVANE_MAN_PRIVATE_LIBDIR "${CMAKE_INSTALL_PREFIX}/${QUORVANE_INSTALL_PRIVATE_LIBDIR}")
string(REPLACE "-" "\\-" QUORVANE_MAN_BUNDLEDIR "${CMAKE_INSTALL_PREFIX}/${QUORVANE_INSTALL_BUNDLEDIR}")
# The user's service manager reads user units from /usr/lib/systemd/user and from
# systemd/user under each of the XDG data folders ($XDG_DATA_HOME, ~/.local/share by default,
# and /usr/local/share, /usr/share): lib/systemd/user under /usr, share/systemd/user under any
# other prefix. The same rule is applied again at install time (QuorvaneUserUnits.cmake), where
# the prefix may be given only then.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(QUORVANE_USERUNITDIR_CONFIGURED "/usr/lib/systemd/user")
else()
  set(QUORVANE_USERUNITDIR_CONFIGURED "${CMAKE_INSTALL_PREFIX}/share/systemd/user")
endif()
string(REPLACE "-" "\\-" QUORVANE_MAN_USERUNITDIR "${QUORVANE_USERUNITDIR_CONFIGURED}")
foreach(page quorvane-share.1 quorvane-receive.1 quorvane-share-desktop.1 quorvane-prompter.1)
  configure_file(${QUORVANE_PACKAGING_DIR}/man/${page} ${PROJECT_BINARY_DIR}/man/${page} @ONLY)
  execute_process(COMMAND gzip -n -9 -c ${PROJECT_BINARY_DIR}/man/${page}
    OUTPUT_FILE ${PROJECT_BINARY_DIR}/man/${page}.gz COMMAND_ERROR_IS_FATAL ANY)
endforeach()

set_target_properties(quorvane-share PROPERTIES INSTALL_RPATH "$ORIGIN/../${QUORVANE_INSTALL_PRIVATE_LIBDIR}")
set_target_properties(QuorvaneShareExt PROPERTIES INSTALL_RPATH "$ORIGIN/..")

install(TARGETS quorvane-share RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT cli)
install(TARGETS quorvane_platform LIBRARY DESTINATION ${QUORVANE_INSTALL_PRIVATE_LIBDIR} COMPONENT cli)
install(TARGETS QuorvaneShareExt LIBRARY DESTINATION ${QUORVANE_INSTALL_BUNDLEDIR} COMPONENT cli)
install(FILES
  ${PROJECT_BINARY_DIR}/QuorvaneShareExt.appex/Info.json
  ${PROJECT_BINARY_DIR}/QuorvaneShareExt.appex/MainInterface.json
  DESTINATION ${QUORVANE_INSTALL_BUNDLEDIR} COMPONENT cli)
install(FILES ${PROJECT_BINARY_DIR}/man/quorvane-share.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT cli)
# bash-completion loads a command's completion from a file named after the command.
install(FILES ${QUORVANE_PACKAGING_DIR}/completion/quorvane-share.bash
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
  RENAME quorvane-share COMPONENT cli)

# The receiver, in the same package: the other end of the import folder. Its user units are
# written at install time, when the prefix is final (`cmake --install --prefix` may change it):
# into the folder the user's service manager reads for that prefix, with the service running
# the receiver by its installed absolute path (the service manager's own path holds neither
# ~/.local/bin nor an /opt prefix).
install(TARGETS quorvane-receive RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT cli)
install(FILES ${PROJECT_BINARY_DIR}/man/quorvane-receive.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT cli)
install(FILES ${QUORVANE_PACKAGING_DIR}/completion/quorvane-receive.bash
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
  RENAME quorvane-receive COMPONENT cli)
install(CODE "set(QUORVANE_UNIT_SOURCES \"${QUORVANE_PACKAGING_DIR}/systemd\")
set(QUORVANE_UNIT_STAGING \"${PROJECT_BINARY_DIR}/systemd\")
set(QUORVANE_UNIT_BINDIR \"${CMAKE_INSTALL_BINDIR}\")"
  COMPONENT cli)
install(SCRIPT ${QUORVANE_PACKAGING_DIR}/QuorvaneUserUnits.cmake COMPONENT cli)

set(QUORVANE_PACKAGE_COMPONENTS cli)
if(TARGET quorvane-share-desktop)
  list(APPEND QUORVANE_PACKAGE_COMPONENTS desktop)
  set_target_properties(quorvane-share-desktop PROPERTIES INSTALL_RPATH "$ORIGIN/../${QUORVANE_INSTALL_PRIVATE_LIBDIR}")
  install(TARGETS quorvane-share-desktop RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT desktop)
  install(FILES ${PROJECT_BINARY_DIR}/man/quorvane-share-desktop.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT desktop)
  install(FILES ${QUORVANE_PACKAGING_DIR}/completion/quorvane-share.bash
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
    RENAME quorvane-share-desktop COMPONENT desktop)
  install(FILES ${QUORVANE_PACKAGING_DIR}/app.quorvane.teleprompter.share.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT desktop)
  # The software centres' listing, with the project's version as its release.
  configure_file(${QUORVANE_PACKAGING_DIR}/app.quorvane.teleprompter.share.metainfo.xml.in
    ${PROJECT_BINARY_DIR}/metainfo/app.quorvane.teleprompter.share.metainfo.xml @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/metainfo/app.quorvane.teleprompter.share.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT desktop)
  # Send to Teleprompter in file managers' context menus for text files (see the entry).
  install(FILES ${QUORVANE_PACKAGING_DIR}/file-manager/app.quorvane.teleprompter.share.servicemenu.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/kio/servicemenus
    RENAME app.quorvane.teleprompter.share.desktop COMPONENT desktop)
  install(FILES ${QUORVANE_PACKAGING_DIR}/file-manager/app.quorvane.teleprompter.share.nemo_action
    DESTINATION ${CMAKE_INSTALL_DATADIR}/nemo/actions COMPONENT desktop)
  install(FILES ${QUORVANE_PACKAGING_DIR}/quorvane-share.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT desktop)
  # The second menu entry: the selected text (the primary selection).
  install(FILES ${QUORVANE_PACKAGING_DIR}/app.quorvane.teleprompter.share.selection.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT desktop)
  # GNOME Files: nautilus-python loads every module in this folder.
  install(FILES ${QUORVANE_PACKAGING_DIR}/file-manager/quorvane-share-nautilus.py
    DESTINATION ${CMAKE_INSTALL_DATADIR}/nautilus-python/extensions COMPONENT desktop)
  # The browser extension (its files as they are: plain JavaScript, nothing to build) and its
  # native-messaging host, which lives beside the platform library: it is started by the
  # browsers, never by a person, so it is not on the PATH.
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/browser/
    DESTINATION ${CMAKE_INSTALL_DATADIR}/webext/quorvane-share COMPONENT desktop
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  install(TARGETS quorvane-browser-host RUNTIME DESTINATION ${QUORVANE_INSTALL_PRIVATE_LIBDIR} COMPONENT desktop)
  # The extension's ids: Chromium's follows from the public key in browser/manifest.json,
  # Firefox's is the manifest's gecko id.
  set(QUORVANE_EXTENSION_CHROMIUM_ID pacoafdhbjgfpdpgkiegajpbaapdgjcg)
  set(QUORVANE_EXTENSION_FIREFOX_ID send-to-teleprompter@quorvane.example)
  install(CODE "set(QUORVANE_HOST_STAGING \"${PROJECT_BINARY_DIR}/browser-host\")
set(QUORVANE_HOST_PROGRAM \"${QUORVANE_INSTALL_PRIVATE_LIBDIR}/quorvane-browser-host\")
set(QUORVANE_CHROMIUM_ORIGIN \"chrome-extension://${QUORVANE_EXTENSION_CHROMIUM_ID}/\")
set(QUORVANE_FIREFOX_ID \"${QUORVANE_EXTENSION_FIREFOX_ID}\")
set(QUORVANE_CHROMIUM_D \"${QUORVANE_PACKAGING_DIR}/browser/quorvane-share.chromium.d\")"
    COMPONENT desktop)
  install(SCRIPT ${QUORVANE_PACKAGING_DIR}/QuorvaneBrowser.cmake COMPONENT desktop)
  # Files under /etc are the administrator's: dpkg keeps their changes on upgrade.
  file(WRITE ${PROJECT_BINARY_DIR}/debian/desktop-control/conffiles
    "/etc/chromium.d/quorvane-share\n/etc/chromium/native-messaging-hosts/app.quorvane.teleprompter.share.json\n")
  set(CPACK_DEBIAN_DESKTOP_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/desktop-control/conffiles)
endif()
# The teleprompter, in a package of its own: the machine that prompts takes it, and a writing
# laptop that installs the window does not (a teleprompter opened there would take the texts
# meant for the prompting machine). It reads the import folder through the reader library
# alone, so it needs neither the extension nor the platform library.
if(TARGET quorvane-prompter)
  list(APPEND QUORVANE_PACKAGE_COMPONENTS prompter)
  install(TARGETS quorvane-prompter RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT prompter)
  install(FILES ${PROJECT_BINARY_DIR}/man/quorvane-prompter.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT prompter)
  install(FILES ${QUORVANE_PACKAGING_DIR}/completion/quorvane-share.bash
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
    RENAME quorvane-prompter COMPONENT prompter)
  install(FILES ${QUORVANE_PACKAGING_DIR}/app.quorvane.teleprompter.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT prompter)
endif()

# What scripts/package.sh checks before it builds: each package this tree cannot make, with
# what it lacks, one a line ("quorvane-share-desktop: ..."); empty when all three are made.
set(QUORVANE_MISSING_PACKAGES "")
if(NOT TARGET quorvane-share-desktop)
  string(APPEND QUORVANE_MISSING_PACKAGES "quorvane-share-desktop: Qt 6 (Widgets, DBus) was not found\n")
endif()
if(NOT TARGET quorvane-prompter)
  string(APPEND QUORVANE_MISSING_PACKAGES "quorvane-prompter: Qt 6 (Widgets) was not found\n")
endif()
file(WRITE ${PROJECT_BINARY_DIR}/debian/missing-packages "${QUORVANE_MISSING_PACKAGES}")

# Each package's documentation folder: the licence in Debian's machine-readable form, and a
# Debian changelog for that package and version (compressed without a time stamp, as above).
# The packages carry a Debian revision, so their changelog is changelog.Debian.gz.
set(QUORVANE_DEBIAN_REVISION 1)
set(QUORVANE_DEBIAN_VERSION ${PROJECT_VERSION}-${QUORVANE_DEBIAN_REVISION})
foreach(component cli desktop prompter)
  if(component STREQUAL cli)
    set(QUORVANE_DEBIAN_PACKAGE quorvane-share)
  elseif(component STREQUAL desktop)
    set(QUORVANE_DEBIAN_PACKAGE quorvane-share-desktop)
  else()
    set(QUORVANE_DEBIAN_PACKAGE quorvane-prompter)
  endif()
  if(NOT component IN_LIST QUORVANE_PACKAGE_COMPONENTS)
    continue()
  endif()
  set(doc ${PROJECT_BINARY_DIR}/debian/${QUORVANE_DEBIAN_PACKAGE})
  configure_file(${QUORVANE_PACKAGING_DIR}/debian/changelog.in ${doc}/changelog.Debian @ONLY)
  execute_process(COMMAND gzip -n -9 -c ${doc}/changelog.Debian
    OUTPUT_FILE ${doc}/changelog.Debian.gz COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${QUORVANE_PACKAGING_DIR}/debian/copyright ${doc}/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${QUORVANE_DEBIAN_PACKAGE} COMPONENT ${component})
  install(FILES ${QUORVANE_PACKAGING_DIR}/debian/lintian-overrides
    DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
    RENAME ${QUORVANE_DEBIAN_PACKAGE} COMPONENT ${component})
endforeach()

# The teleprompter's listing, in its package. Its desktop entry is
# app.quorvane.teleprompter.desktop, the id the listing launches.
if(TARGET quorvane-prompter)
  configure_file(${QUORVANE_PACKAGING_DIR}/app.quorvane.teleprompter.metainfo.xml.in
    ${PROJECT_BINARY_DIR}/metainfo/app.quorvane.teleprompter.metainfo.xml @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/metainfo/app.quorvane.teleprompter.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT prompter)
endif()

set(CPACK_PACKAGE_NAME quorvane-share)
set(CPACK_PACKAGE_VENDOR "Quorvane")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Quorvane share developers <share-dev@quorvane.example>")
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL ${QUORVANE_PACKAGE_COMPONENTS})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Our own platform library is in the package; dpkg-shlibdeps looks for it there.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${QUORVANE_INSTALL_PRIVATE_LIBDIR})
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${QUORVANE_DEBIAN_REVISION})
# The private library folder is under /usr/lib, so cpack would add maintainer scripts calling
# ldconfig; but nothing links against our private folder through the cache (the run paths find
# it), and dpkg's trigger runs ldconfig where it is needed. Naming the two scripts here stops
# cpack writing them; the files do not exist, so the packages have no maintainer scripts.
set(CPACK_DEBIAN_CLI_PACKAGE_CONTROL_EXTRA
  ${PROJECT_BINARY_DIR}/debian/no-maintainer-scripts/postinst
  ${PROJECT_BINARY_DIR}/debian/no-maintainer-scripts/postrm)

set(CPACK_COMPONENT_CLI_DISPLAY_NAME "Command line and share extension")
set(CPACK_DEBIAN_CLI_PACKAGE_NAME quorvane-share)
set(CPACK_DEBIAN_CLI_PACKAGE_SECTION utils)
# The first line of a description is the package's summary; the lines after it stay within
# 72 columns, as Debian's tools show them.
set(CPACK_COMPONENT_CLI_DESCRIPTION "Share text with the teleprompter from the command line
quorvane-share offers a text file, or standard input, to the
teleprompter's share extension as a share sheet would, and sends it to
the teleprompter's import folder or cancels, as told or from keys in
the terminal. It reports the outcome in words or as JSON and lists the
import folder. quorvane-receive takes each sent text out exactly once:
into a folder, to a command or to standard output. The extension bundle
and the receiver's systemd user units (disabled) are included.")

set(CPACK_COMPONENT_DESKTOP_DISPLAY_NAME "Desktop window")
set(CPACK_COMPONENT_DESKTOP_DEPENDS cli)
# On a Wayland desktop: Qt's Wayland platform (without it the window needs XWayland) and
# wl-paste, which reads the selected text there; neither is a library the program links.
set(CPACK_DEBIAN_DESKTOP_PACKAGE_RECOMMENDS "qt6-wayland, wl-clipboard")
set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME quorvane-share-desktop)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_SECTION x11)
set(CPACK_COMPONENT_DESKTOP_DESCRIPTION "Share text with the teleprompter from the desktop
quorvane-share-desktop shows the teleprompter's share sheet in a window
for a text file, the clipboard's text or the selected text, with Close
and Send to Teleprompter. A file manager offers it in Open With for
text files; it never becomes the default program for them. This is the
package for the computer where scripts are written: the teleprompter
itself is in quorvane-prompter.")

set(CPACK_COMPONENT_PROMPTER_DISPLAY_NAME "Teleprompter")
# Following the reader's voice listens with the recogniser's English model, a package of data
# that no library dependency brings in; the teleprompter prompts without it.
# Qt's Wayland platform likewise lets it draw on a Wayland desktop without XWayland.
set(CPACK_DEBIAN_PROMPTER_PACKAGE_RECOMMENDS qt6-wayland)
if(TARGET quorvane_voice)
  set(CPACK_DEBIAN_PROMPTER_PACKAGE_RECOMMENDS "qt6-wayland, pocketsphinx-en-us")
endif()
set(CPACK_DEBIAN_PROMPTER_PACKAGE_NAME quorvane-prompter)
set(CPACK_DEBIAN_PROMPTER_PACKAGE_SECTION x11)
set(CPACK_COMPONENT_PROMPTER_DESCRIPTION "Teleprompter that takes in the texts shared with it
quorvane-prompter (Teleprompter) takes in the texts sent to the
teleprompter's import folder, each exactly once, keeps them in a
library of scripts and prompts them: smooth scrolling at a set number
of words per minute, mirroring, a countdown and progress. This is the
package for the computer that prompts; the share window is in
quorvane-share-desktop.")

include(CPack)
