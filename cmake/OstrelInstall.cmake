# Installing Ostrel as a desktop program (`cmake --install`, any prefix, DESTDIR honoured)
# and its Debian package (CPack, `scripts/package.sh`).
#
# Included at the end of the top-level CMakeLists.txt, once every target exists: the
# command-line tools are installed when their targets are part of the build.
#
# Installed under the prefix:
#   bin/ostrel, bin/ostrel-record, bin/ostrel-convert    the programs
#   include/ostrel/ostrel_usb_module.h                   the C interface of module adapters
#   share/applications/ostrel.desktop                    the desktop entry
#   share/icons/hicolor/scalable/apps/ostrel.svg         the icon, and PNGs of 16..256 pixels
#                                                        when rsvg-convert is there to draw them
#   share/metainfo/io.github.ostrel.Ostrel.metainfo.xml  the AppStream description
#   share/man/man1/<program>.1.gz                        the manual page of each program installed
#   share/doc/ostrel/copyright, changelog.gz             what the Debian package must carry
if(OSTREL_BUILD_FUZZERS)
  return()  # the fuzz build has no programs
endif()

include(GNUInstallDirs)

# Directories the install creates are world-readable whatever the umask of the one who
# builds the package.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(OSTREL_PACKAGING_SOURCE_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(OSTREL_PACKAGING_BINARY_DIR ${PROJECT_BINARY_DIR}/packaging)
set(OSTREL_APP_ID io.github.ostrel.Ostrel)

# The programs that are part of this build.
set(OSTREL_INSTALLED_PROGRAMS)
foreach(program IN ITEMS ostrel ostrel-record ostrel-convert)
  if(TARGET ${program})
    list(APPEND OSTREL_INSTALLED_PROGRAMS ${program})
  endif()
endforeach()
if(NOT OSTREL_INSTALLED_PROGRAMS)
  return()
endif()
install(TARGETS ${OSTREL_INSTALLED_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${PROJECT_SOURCE_DIR}/src/usb/ostrel_usb_module.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ostrel)

install(FILES ${OSTREL_PACKAGING_SOURCE_DIR}/ostrel.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${OSTREL_PACKAGING_SOURCE_DIR}/${OSTREL_APP_ID}.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Files made at build time: the PNG icons and the compressed manual pages and changelog.
set(OSTREL_GENERATED_DATA)

# The icon: the SVG always; PNGs of the usual sizes when librsvg's converter is at hand
# (Debian package librsvg2-bin). Desktops scale the SVG when the PNGs are missing.
set(OSTREL_ICON_SVG ${OSTREL_PACKAGING_SOURCE_DIR}/icons/ostrel.svg)
install(FILES ${OSTREL_ICON_SVG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
find_program(OSTREL_RSVG_CONVERT rsvg-convert)
if(OSTREL_RSVG_CONVERT)
  foreach(size IN ITEMS 16 22 24 32 48 64 128 256)
    set(png ${OSTREL_PACKAGING_BINARY_DIR}/icons/${size}x${size}/ostrel.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${OSTREL_PACKAGING_BINARY_DIR}/icons/${size}x${size}
      COMMAND ${OSTREL_RSVG_CONVERT} --width=${size} --height=${size} --output=${png} ${OSTREL_ICON_SVG}
      DEPENDS ${OSTREL_ICON_SVG}
      COMMENT "Drawing the ${size}x${size} icon"
      VERBATIM)
    list(APPEND OSTREL_GENERATED_DATA ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
endif()

# `gzip -9n`: best compression, no name or time stamp in the header, so the same page gives
# the same bytes on every build. The copy is compressed in place (gzip replaces it).
find_program(OSTREL_GZIP gzip REQUIRED)
function(ostrel_compressed_copy source destination)
  get_filename_component(name ${source} NAME)
  set(copy ${OSTREL_PACKAGING_BINARY_DIR}/${destination}/${name})
  add_custom_command(OUTPUT ${copy}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${copy}
    COMMAND ${OSTREL_GZIP} -9nf ${copy}
    DEPENDS ${source}
    COMMENT "Compressing ${destination}/${name}"
    VERBATIM)
  set(OSTREL_GENERATED_DATA ${OSTREL_GENERATED_DATA} ${copy}.gz PARENT_SCOPE)
endfunction()

# A program's manual page is installed with the program.
foreach(program IN LISTS OSTREL_INSTALLED_PROGRAMS)
  ostrel_compressed_copy(${OSTREL_PACKAGING_SOURCE_DIR}/man/${program}.1 man)
  install(FILES ${OSTREL_PACKAGING_BINARY_DIR}/man/${program}.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

# Debian wants a copyright file and, the package being native (version without a Debian
# revision), its changelog as changelog.gz; both are plain text useful in any install.
set(OSTREL_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/ostrel)
ostrel_compressed_copy(${OSTREL_PACKAGING_SOURCE_DIR}/debian/changelog doc)
install(FILES ${OSTREL_PACKAGING_SOURCE_DIR}/debian/copyright
  ${OSTREL_PACKAGING_BINARY_DIR}/doc/changelog.gz
  DESTINATION ${OSTREL_DOC_DIR})

add_custom_target(ostrel_packaging_data ALL DEPENDS ${OSTREL_GENERATED_DATA})

# ---------------------------------------------------------------------------------------
# The Debian package: `cpack -G DEB` in the build tree (scripts/package.sh); CPack installs
# with the prefix /usr whatever the build's.
# ---------------------------------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ostrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Ostrel developers")
set(CPACK_PACKAGE_CONTACT "Ostrel developers <ostrel@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "display and recorder for a USB PCM telemetry receiver")
# The extended description, wrapped by hand: CPack keeps the lines as they are.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Ostrel shows and records the data of a USB receiver for PCM telemetry:"
  "4, 8, 16 or 32 plain channels, or a steering sensor (torque, angle, speed"
  "and accelerations). The operator picks a receiver module, a telemetry type"
  "and a link speed and presses START: every channel's value is shown ten"
  "times a second and two channels scroll on strip charts."
  ""
  "With logging on, every measurement writes a new CSV or TSV file of raw"
  "words with a JSON description beside it. ostrel-record records without a"
  "window, ostrel-convert turns a recording into CSV, MATLAB or HDF5 files of"
  "percent or physical values. Without receiver hardware Ostrel offers"
  "simulated receivers; a shared library for real hardware is plugged in"
  "through a small C interface, whose header this package installs.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so no shared library names it: without Qt's platform plugins (xcb,
# wayland) the window cannot open. libqt6gui6 only recommends them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
