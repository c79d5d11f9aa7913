# Installs the receiver's systemd user units for the prefix given at install time (run by
# `cmake --install`, cpack and `ninja install`; QUORVANE_UNIT_SOURCES, QUORVANE_UNIT_STAGING and
# QUORVANE_UNIT_BINDIR are set by the install rule before this script).
#
# Where: /usr/lib/systemd/user for the prefix /usr (what Debian's packages use), else
# PREFIX/share/systemd/user, which the user's service manager reads through the XDG data
# folders (~/.local/share for the prefix ~/.local, /usr/local/share for /usr/local).
# What: the service's ExecStart names the receiver by its installed absolute path, quoted and
# with systemd's specifier character doubled, so a prefix holding spaces or '%' is run as it is.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(unit_dir "/usr/lib/systemd/user")
else()
  set(unit_dir "${CMAKE_INSTALL_PREFIX}/share/systemd/user")
endif()
if(IS_ABSOLUTE "${QUORVANE_UNIT_BINDIR}")
  set(receiver "${QUORVANE_UNIT_BINDIR}/quorvane-receive")
else()
  set(receiver "${CMAKE_INSTALL_PREFIX}/${QUORVANE_UNIT_BINDIR}/quorvane-receive")
endif()
# A unit file is one line per setting: a line end in the path would end the setting early.
if(receiver MATCHES "[\n\r]")
  message(FATAL_ERROR "the install prefix holds a line end; the user units cannot name '${receiver}'")
endif()
string(REPLACE "\\" "\\\\" quoted "${receiver}")
string(REPLACE "\"" "\\\"" quoted "${quoted}")
string(REPLACE "%" "%%" quoted "${quoted}")

file(READ "${QUORVANE_UNIT_SOURCES}/quorvane-receive.service" service)
string(REGEX REPLACE "\nExecStart=quorvane-receive " "\nExecStart=\"${quoted}\" " written "${service}")
if(written STREQUAL service)
  message(FATAL_ERROR "quorvane-receive.service has no 'ExecStart=quorvane-receive' line to complete")
endif()
file(MAKE_DIRECTORY "${QUORVANE_UNIT_STAGING}")
file(WRITE "${QUORVANE_UNIT_STAGING}/quorvane-receive.service" "${written}")
file(COPY_FILE "${QUORVANE_UNIT_SOURCES}/quorvane-receive.path"
  "${QUORVANE_UNIT_STAGING}/quorvane-receive.path" ONLY_IF_DIFFERENT)
# file(INSTALL) puts DESTDIR in front and records the files in the install manifest, as
# install(FILES) would.
file(INSTALL DESTINATION "${unit_dir}" TYPE FILE PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
  FILES "${QUORVANE_UNIT_STAGING}/quorvane-receive.service" "${QUORVANE_UNIT_STAGING}/quorvane-receive.path")
