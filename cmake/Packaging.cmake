# Install layout and the Debian package.
#
#   bin/                 fenk, fenk-make, fenk-info, fenk-render, fenk-live
#   lib/ (libdir)        libfsound.so (installed by fsound/)
#   share/fenk/          square.wav (installed by data/square/)
#   share/fenk/songs/    the demo songs, compiled
#   share/man/man1/      a man page for each program
#   share/doc/fenk/      README, the song format, the tools, the song sources
#
# The player looks for its data in share/fenk beside its own bin/ folder,
# then in <prefix>/share/fenk as configured, so an installed tree may be
# moved; still, build the package with the prefix it installs to:
#   cmake -S . -B build/deb -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr
#   cmake --build build/deb && (cd build/deb && cpack -G DEB)

set(fenk_programs fenk fenk-make fenk-info fenk-render fenk-live)
foreach(program IN LISTS fenk_programs)
  if(NOT TARGET ${program})
    message(FATAL_ERROR "Packaging: the program ${program} is not defined")
  endif()
endforeach()

# Installed programs find libfsound.so in the libdir beside their bin/,
# wherever the tree is installed.
file(RELATIVE_PATH fenk_bin_to_lib
     ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
set_target_properties(${fenk_programs} PROPERTIES
  INSTALL_RPATH "$ORIGIN/${fenk_bin_to_lib}")

# fenk installs itself (src/app); the tools are installed here.
install(TARGETS fenk-make fenk-info fenk-render fenk-live
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${FENK_DEMO_SONGS} DESTINATION ${FENK_DATA_INSTALL_DIR}/songs)

install(FILES
  ${PROJECT_SOURCE_DIR}/docs/man/fenk.1
  ${PROJECT_SOURCE_DIR}/docs/man/fenk-make.1
  ${PROJECT_SOURCE_DIR}/docs/man/fenk-info.1
  ${PROJECT_SOURCE_DIR}/docs/man/fenk-render.1
  ${PROJECT_SOURCE_DIR}/docs/man/fenk-live.1
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

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

# CPack: `cpack -G DEB` in the build folder makes fenk_<version>_<arch>.deb,
# the player (every install rule without a component of its own), and
# fenk-dev_<version>_<arch>.deb, fsound's headers (the "development"
# component).
set(CPACK_PACKAGE_NAME fenk)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Fenk developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "four-voice TI-83 Plus song player")
set(CPACK_PACKAGE_DESCRIPTION
  "Fenk plays four-voice songs kept in TI-83 Plus calculator program files\n\
on the computer's sound output, from a console. With it come fenk-make,\n\
which compiles a readable song text into a program file, fenk-info, which\n\
shows what a song file holds, and fenk-render, which plays a song into a\n\
WAV, FLAC or Ogg file.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Fenk developers <fenk@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_STRIP_FILES ON)
# dpkg-shlibdeps works the dependencies out from the programs and
# libfsound.so (libsdl2-2.0-0, libsndfile1, libc6, libstdc++6, ...); our own
# libfsound.so comes with the package.
find_program(FENK_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(FENK_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libsdl2-2.0-0, libsndfile1, libc6, libstdc++6, libgcc-s1")
endif()

# One package per component; the default component is the player.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Unspecified development)
set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_NAME fenk)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME fenk-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "fenk (= ${PROJECT_VERSION})")
# CPackDeb puts CPACK_PACKAGE_DESCRIPTION_SUMMARY above each description.
set(CPACK_DEBIAN_UNSPECIFIED_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
  "The C headers of Fenk's sound library, fsound (fsound.h, and\n\
fsound_offline.h for its offline mode), for programs built against the\n\
libfsound.so that comes with the fenk package.")
include(CPack)
