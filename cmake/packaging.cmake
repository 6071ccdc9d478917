# Install layout, desktop integration and the Debian package. Included by the
# top-level CMakeLists.txt once the roustabell target exists.
#
#   <prefix>/lib/roustabell/roustabell        the program, with its sound module
#   <prefix>/lib/roustabell/libroustabell-sound.so  and its two sounds
#   <prefix>/lib/roustabell/roustabell.wav    beside it, where it looks for them
#   <prefix>/lib/roustabell/WRONG!.WAV
#   <prefix>/bin/roustabell -> ../lib/roustabell/roustabell
#   <prefix>/share/applications, metainfo, icons/hicolor, doc/roustabell

set(ROUSTABELL_APP_ID org.example.roustabell)
set(ROUSTABELL_PRIVATE_DIR lib/roustabell)
set(ROUSTABELL_ICON_SIZES 16 22 24 32 48 64 128 256)
set(_rb_dist ${PROJECT_SOURCE_DIR}/dist)
set(_rb_out ${PROJECT_BINARY_DIR}/dist)

install(TARGETS roustabell RUNTIME DESTINATION ${ROUSTABELL_PRIVATE_DIR})
install(TARGETS roustabell_soundmodule LIBRARY DESTINATION ${ROUSTABELL_PRIVATE_DIR})
install(FILES
  ${PROJECT_SOURCE_DIR}/resources/sounds/roustabell.wav
  "${PROJECT_SOURCE_DIR}/resources/sounds/WRONG!.WAV"
  DESTINATION ${ROUSTABELL_PRIVATE_DIR})

# Relative, so the link stays right under any prefix and inside the package.
file(MAKE_DIRECTORY ${_rb_out}/bin)
file(CREATE_LINK ../${ROUSTABELL_PRIVATE_DIR}/roustabell ${_rb_out}/bin/roustabell SYMBOLIC)
install(FILES ${_rb_out}/bin/roustabell DESTINATION bin)

install(FILES ${_rb_dist}/linux/roustabell.desktop DESTINATION share/applications)
install(FILES ${_rb_dist}/linux/${ROUSTABELL_APP_ID}.metainfo.xml DESTINATION share/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION share/doc/roustabell RENAME copyright)

# Theme icons: the SVG as it is, and PNGs drawn from it at build time.
install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/alarmclock.svg
  DESTINATION share/icons/hicolor/scalable/apps RENAME roustabell.svg)

set(_rb_pngs)
foreach(size ${ROUSTABELL_ICON_SIZES})
  list(APPEND _rb_pngs ${_rb_out}/icons/${size}x${size}/apps/roustabell.png)
endforeach()
add_custom_command(
  OUTPUT ${_rb_pngs}
  COMMAND roustabell_rendericon ${PROJECT_SOURCE_DIR}/resources/icons/alarmclock.svg
          ${_rb_out}/icons roustabell ${ROUSTABELL_ICON_SIZES}
  DEPENDS roustabell_rendericon ${PROJECT_SOURCE_DIR}/resources/icons/alarmclock.svg
  COMMENT "Rendering the application icon"
  VERBATIM)
add_custom_target(roustabell_icons ALL DEPENDS ${_rb_pngs})
foreach(size ${ROUSTABELL_ICON_SIZES})
  install(FILES ${_rb_out}/icons/${size}x${size}/apps/roustabell.png
    DESTINATION share/icons/hicolor/${size}x${size}/apps)
endforeach()

# Debian package: cpack -G DEB in the build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME roustabell)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Quillon)
set(CPACK_PACKAGE_CONTACT "ROUSTABELL maintainers <roustabell@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "alarm clock that makes sure you are awake")
set(CPACK_PACKAGE_DESCRIPTION
  "Quillon's Clamorific Alarm Clock Thingy: set a wake-up time and a WAV file,
and the sound loops until you stop it. With awareness test questions defined,
only the exact answer to a randomly picked question silences the alarm; each
wrong answer plays a buzzer and restarts it. While an alarm is set, the
machine is kept from going to sleep.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://roustabell.example.org/)
# Linked libraries come from dpkg-shlibdeps, the sound module's included
# (libpulse0). Named here is what is only loaded at run time: the
# dialog font the layouts are measured in, and a PulseAudio-protocol sound
# server to play on (PulseAudio itself, or PipeWire's). The xcb
# platform plugin is part of libqt6gui6 on Debian 12, and in a Wayland session
# the program runs through XWayland; a Wayland session without it needs Qt's
# Wayland plugin. The window icons are drawn at build time, so no SVG plugin
# is needed.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse, qt6-wayland")
include(CPack)
