# Installation and Debian packages.
#
# Installed layout (under the prefix, /usr in the packages):
#   bin/quorvane-share, bin/quorvane-receive, bin/quorvane-share-desktop, bin/quorvane-prompter
#   lib/quorvane/libquorvane_platform.so
#   lib/quorvane/QuorvaneShareExt.appex/{Info.json,MainInterface.json,libQuorvaneShareExt.so}
#   share/man/man1/*.1.gz, share/bash-completion/completions/*,
#   lib/systemd/user/quorvane-receive.{path,service} (disabled until a person turns them on),
#   share/applications/app.quorvane.teleprompter.share.desktop,
#   share/applications/app.quorvane.teleprompter.desktop (the teleprompter),
#   share/metainfo/app.quorvane.teleprompter{.share,}.metainfo.xml,
#   share/kio/servicemenus/app.quorvane.teleprompter.share.desktop,
#   share/nemo/actions/app.quorvane.teleprompter.share.nemo_action,
#   share/icons/hicolor/scalable/apps/quorvane-share.svg,
#   share/doc/<package>/{copyright,changelog.Debian.gz}
#
# The hosts find the bundle at <their folder>/../lib/quorvane/, and every program and module
# finds the platform library through a run path relative to itself ($ORIGIN), so an installed
# tree works wherever it is unpacked, with no environment variable. That is why the private
# folder is lib/quorvane and not the multiarch library folder: its place relative to bin/ is
# part of the promise.
#
# Two packages: quorvane-share (the command line and the extension; no Qt, so a server can
# have it) and quorvane-share-desktop (the window, the desktop entry and the icon), which
# depends on the first. The second exists only when the window is built (Qt 6 found).
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
string(REPLACE "-" "\\-" QUORVANE_MAN_USERUNITDIR "${CMAKE_INSTALL_PREFIX}/lib/systemd/user")
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

# The receiver, in the same package: the other end of the import folder. Its user units name
# the program without a folder, which systemd finds in /usr/bin or /usr/local/bin.
install(TARGETS quorvane-receive RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT cli)
install(FILES ${PROJECT_BINARY_DIR}/man/quorvane-receive.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT cli)
install(FILES ${QUORVANE_PACKAGING_DIR}/completion/quorvane-receive.bash
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
  RENAME quorvane-receive COMPONENT cli)
install(FILES
  ${QUORVANE_PACKAGING_DIR}/systemd/quorvane-receive.path
  ${QUORVANE_PACKAGING_DIR}/systemd/quorvane-receive.service
  DESTINATION lib/systemd/user COMPONENT cli)

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
endif()
# The teleprompter comes with the window, in the same package.
if(TARGET quorvane-prompter AND TARGET quorvane-share-desktop)
  install(TARGETS quorvane-prompter RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT desktop)
  install(FILES ${PROJECT_BINARY_DIR}/man/quorvane-prompter.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT desktop)
  install(FILES ${QUORVANE_PACKAGING_DIR}/completion/quorvane-share.bash
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
    RENAME quorvane-prompter COMPONENT desktop)
  install(FILES ${QUORVANE_PACKAGING_DIR}/app.quorvane.teleprompter.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT desktop)
endif()

# Each package's documentation folder: the licence in Debian's machine-readable form, and a
# Debian changelog for that package and version (compressed without a time stamp, as above).
# The packages carry a Debian revision, so their changelog is changelog.Debian.gz.
set(QUORVANE_DEBIAN_REVISION 1)
set(QUORVANE_DEBIAN_VERSION ${PROJECT_VERSION}-${QUORVANE_DEBIAN_REVISION})
foreach(component cli desktop)
  if(component STREQUAL cli)
    set(QUORVANE_DEBIAN_PACKAGE quorvane-share)
  else()
    set(QUORVANE_DEBIAN_PACKAGE quorvane-share-desktop)
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

# The teleprompter's listing, where it is built and packaged with the window. Its desktop entry
# is app.quorvane.teleprompter.desktop, the id the listing launches.
if(TARGET quorvane-prompter AND TARGET quorvane-share-desktop)
  configure_file(${QUORVANE_PACKAGING_DIR}/app.quorvane.teleprompter.metainfo.xml.in
    ${PROJECT_BINARY_DIR}/metainfo/app.quorvane.teleprompter.metainfo.xml @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/metainfo/app.quorvane.teleprompter.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT desktop)
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
set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME quorvane-share-desktop)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_SECTION x11)
set(CPACK_COMPONENT_DESKTOP_DESCRIPTION "Share text with the teleprompter from the desktop
quorvane-share-desktop shows the teleprompter's share sheet in a window
for a text file or the clipboard's text, with Close and Send to
Teleprompter. A file manager offers it in Open With for text files; it
never becomes the default program for them. quorvane-prompter
(Teleprompter) takes in the texts sent and prompts them: smooth
scrolling at a set number of words per minute, mirroring, a countdown
and progress.")

include(CPack)
