# Install layout and the Debian packages.
#
#   bin/                 fenk, fenk-make, fenk-info, fenk-render, fenk-live,
#                        fenk-send
#   lib/ (libdir)        libfsound.so.1 and, for building, libfsound.so,
#                        pkgconfig/fsound.pc, cmake/fsound/ (from fsound/)
#   include/             fsound's headers (from fsound/)
#   share/fenk/          square.wav (installed by data/square/)
#   share/fenk/songs/    the demo songs, compiled
#   share/man/man1/      a man page for each program, compressed
#   share/doc/fenk/      README, the song format, the tools, the song sources
#   lib/udev/rules.d/    the udev rule that gives the calculators to the user
#                        at the seat, for fenk-send (under /usr in the .deb,
#                        where udev reads it)
#
# The player looks for its data in share/fenk beside its own bin/ folder,
# then in <prefix>/share/fenk as configured, then in the packages'
# /usr/share/fenk, so an installed tree may be moved, and the packages
# (always under FENK_PACKAGE_PREFIX) work from any build:
#   cmake --build build/release && (cd build/release && cpack -G DEB)

# Installed programs find libfsound.so in the libdir beside their bin/,
# wherever the tree is installed.
file(RELATIVE_PATH fenk_bin_to_lib
     ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
set_target_properties(${FENK_PROGRAMS} PROPERTIES
  INSTALL_RPATH "$ORIGIN/${fenk_bin_to_lib}")

install(FILES ${FENK_DEMO_SONGS} DESTINATION ${FENK_DATA_INSTALL_DIR}/songs)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/70-fenk-calculators.rules
  DESTINATION lib/udev/rules.d)

# Man pages and the Debian changelog go in compressed, as Debian wants them
# (gzip -n: no name or time stamp, so the same sources give the same bytes).
find_program(FENK_GZIP gzip REQUIRED)
set(fenk_compressed)
foreach(page IN LISTS FENK_PROGRAMS)
  set(source ${PROJECT_SOURCE_DIR}/docs/man/${page}.1)
  set(compressed ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
  add_custom_command(OUTPUT ${compressed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${FENK_GZIP} -9nc ${source} > ${compressed}
    DEPENDS ${source} VERBATIM)
  list(APPEND fenk_compressed ${compressed})
  install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
set(fenk_changelog ${CMAKE_BINARY_DIR}/debian/changelog.gz)
add_custom_command(OUTPUT ${fenk_changelog}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/debian
  COMMAND ${FENK_GZIP} -9nc ${CMAKE_CURRENT_LIST_DIR}/debian/changelog > ${fenk_changelog}
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/debian/changelog VERBATIM)
add_custom_target(fenk-compressed-docs ALL DEPENDS ${fenk_compressed} ${fenk_changelog})

install(FILES
  ${PROJECT_SOURCE_DIR}/README.md
  ${PROJECT_SOURCE_DIR}/docs/song-format.md
  ${PROJECT_SOURCE_DIR}/docs/tools.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/images
  DESTINATION ${CMAKE_INSTALL_DOCDIR} OPTIONAL)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/songs/
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
  FILES_MATCHING PATTERN "*.txt"
  PATTERN "CMakeLists.txt" EXCLUDE)

# Each package's copyright (machine-readable) and changelog, where Debian
# looks for them: /usr/share/doc/<package>/. Only the packages hold them
# (EXCLUDE_FROM_ALL: `cmake --install` leaves them out).
set(fenk_package_docs Unspecified fenk library libfsound1 development fenk-dev)
while(fenk_package_docs)
  list(POP_FRONT fenk_package_docs component package)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${fenk_changelog}
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
    COMPONENT ${component} EXCLUDE_FROM_ALL)
endwhile()
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/libfsound1.lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME libfsound1
  COMPONENT library EXCLUDE_FROM_ALL)

# CPack: `cpack -G DEB` in the build folder makes three packages under
# FENK_PACKAGE_PREFIX (/usr), whatever prefix the build was configured for:
#   fenk_<version>_<arch>.deb        the programs, the data, the docs
#                                    (every install rule without a component)
#   libfsound1_<version>_<arch>.deb  libfsound.so.1, the "library" component
#   fenk-dev_<version>_<arch>.deb    headers, libfsound.so, fsound.pc and the
#                                    CMake package ("development")
set(CPACK_PACKAGE_NAME fenk)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Fenk developers")
set(CPACK_PACKAGING_INSTALL_PREFIX ${FENK_PACKAGE_PREFIX})
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(FENK_PACKAGE_MAINTAINER
  "Fenk maintainers <maintainers@users.noreply.c-seed-3075ba23.example>"
  CACHE STRING "The Maintainer field of the Debian packages")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${FENK_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_STRIP_FILES ON)
# dpkg-shlibdeps works out what the programs and libfsound.so.1 need
# (libsdl2-2.0-0, libpulse0, libsndfile1, libusb-1.0-0, libc6, libstdc++6, ...); libfsound.so.1 is
# found in the build tree and named by hand below.
find_program(FENK_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(FENK_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
  set(fenk_system_depends "")
else()
  set(fenk_system_depends ", libsdl2-2.0-0, libpulse0, libsndfile1, libusb-1.0-0, libc6, libstdc++6, libgcc-s1")
endif()

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Unspecified library development)
set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_NAME fenk)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libfsound1)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME fenk-dev)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_DEPENDS
  "libfsound1 (= ${PROJECT_VERSION})${fenk_system_depends}")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libfsound1 (= ${PROJECT_VERSION})")
# The library package: its shlibs file (programs built against it depend on
# libfsound1 of this version or later) and dpkg's ldconfig trigger.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)  # only libfsound1 holds a library
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Each description's first line is its package's synopsis.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_DEBIAN_UNSPECIFIED_DESCRIPTION
  "player of four-voice TI-83 Plus calculator songs\n\
Fenk plays four-voice songs kept in TI-83 Plus calculator program files\n\
on the computer's sound output, from a console. With it come fenk-make,\n\
which compiles a readable song text into a program file, fenk-info, which\n\
shows what a song file holds, fenk-render, which plays a song into a WAV,\n\
FLAC or Ogg file, fenk-live, which plays a song while it is written, and\n\
fenk-send, which sends songs to a TI-84 Plus, a TI-84 Plus CE or, through\n\
TI's SilverLink cable, a TI-83 Plus.")
set(CPACK_DEBIAN_LIBRARY_DESCRIPTION
  "Fenk's sound library, fsound\n\
fsound sounds samples on software channels through SDL2, with the FSOUND\n\
call set, band-limited resampling, calls placed on the output frame they\n\
were meant for, and an offline mode that mixes into memory. This package\n\
holds the shared library that fenk and its tools use.")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
  "Fenk's sound library, fsound: development files\n\
The C headers of fsound (fsound.h, fsound_offline.h for its offline mode,\n\
fsound_errors.h, fsound_timing.h), the libfsound.so link, fsound.pc for\n\
pkg-config and a CMake package: find_package(fsound) gives the imported\n\
target fsound::fsound.")
include(CPack)
