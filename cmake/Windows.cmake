# What the Windows build adds: the UTF-8 manifest in every program, the
# DLLs the programs need beside them in bin/ (so that the build tree runs,
# under Wine too), and the zip package.
#
#   fenk-<version>-win64/
#     fenk.exe fenk-render.exe fenk-info.exe fenk-make.exe fenk-live.exe
#     fenk-send.exe
#     fsound.dll SDL2.dll libsndfile.dll libusb-1.0.dll and the compiler's
#     runtime DLLs
#     LICENSE.txt square.wav songs/*.8xp docs/ licences/ include/ lib/
#
# FENK_WINDOWS_PREFIX names where SDL2, libsndfile and libusb for Windows
# are installed (scripts/windows builds them).

set(FENK_WINDOWS_MANIFEST ${CMAKE_CURRENT_LIST_DIR}/windows/fenk.manifest)
configure_file(${CMAKE_CURRENT_LIST_DIR}/windows/fenk.rc.in
               ${CMAKE_BINARY_DIR}/fenk_manifest.rc @ONLY)
foreach(program IN LISTS FENK_PROGRAMS ITEMS make_square_wav)
  if(TARGET ${program})
    target_sources(${program} PRIVATE ${CMAKE_BINARY_DIR}/fenk_manifest.rc)
  endif()
endforeach()

# The compiler's runtime (libstdc++, libgcc, winpthread) and the three
# libraries, copied beside the programs now and installed with them.
set(fenk_windows_dlls)
foreach(runtime IN ITEMS libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
                  OUTPUT_VARIABLE runtime_path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${runtime_path}")
    find_file(runtime_path_${runtime} ${runtime}
              PATHS /usr/x86_64-w64-mingw32/lib NO_DEFAULT_PATH)
    set(runtime_path ${runtime_path_${runtime}})
  endif()
  if(NOT EXISTS "${runtime_path}")
    message(FATAL_ERROR "Windows: the runtime library ${runtime} was not found")
  endif()
  list(APPEND fenk_windows_dlls ${runtime_path})
endforeach()
set(fenk_library_dlls)
foreach(pattern IN ITEMS SDL2.dll libsndfile*.dll libusb-1.0*.dll)
  file(GLOB found ${FENK_WINDOWS_PREFIX}/bin/${pattern})
  if(NOT found)
    message(FATAL_ERROR "Windows: no ${pattern} in FENK_WINDOWS_PREFIX/bin "
                        "('${FENK_WINDOWS_PREFIX}'); scripts/windows builds it")
  endif()
  list(APPEND fenk_library_dlls ${found})
endforeach()
list(APPEND fenk_windows_dlls ${fenk_library_dlls})
# Stripped: the runtime DLLs come with their debugging symbols (libstdc++
# alone is over 20 MB with them, 2 MB without).
set(fenk_stripped_dlls)
foreach(dll IN LISTS fenk_windows_dlls)
  get_filename_component(dll_name ${dll} NAME)
  set(stripped ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${dll_name})
  if(NOT EXISTS ${stripped} OR ${dll} IS_NEWER_THAN ${stripped})
    file(COPY ${dll} DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
    execute_process(COMMAND ${CMAKE_STRIP} --strip-unneeded ${stripped} RESULT_VARIABLE stripped_status)
    if(NOT stripped_status EQUAL 0)
      message(FATAL_ERROR "Windows: cannot strip ${stripped}")
    endif()
  endif()
  list(APPEND fenk_stripped_dlls ${stripped})
endforeach()
install(FILES ${fenk_stripped_dlls} DESTINATION .)

install(FILES ${FENK_DEMO_SONGS} DESTINATION songs)
install(FILES
  ${PROJECT_SOURCE_DIR}/README.md
  ${PROJECT_SOURCE_DIR}/docs/song-format.md
  ${PROJECT_SOURCE_DIR}/docs/tools.md
  DESTINATION docs)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/songs/
  DESTINATION docs/examples
  FILES_MATCHING PATTERN "*.txt" PATTERN "CMakeLists.txt" EXCLUDE)
# Fenk's own licence at the top, the third parties' under licences/.
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
# (scripts/windows keeps the three libraries' licences in its prefix.)
if(EXISTS ${FENK_WINDOWS_PREFIX}/licences)
  install(DIRECTORY ${FENK_WINDOWS_PREFIX}/licences/ DESTINATION licences)
endif()
# Licences of the compiler runtime that the DLLs come from.
install(FILES /usr/share/doc/mingw-w64-common/copyright
  DESTINATION licences RENAME mingw-w64-runtime.txt OPTIONAL)
install(FILES /usr/share/doc/gcc-mingw-w64-base/copyright
  DESTINATION licences RENAME gcc-runtime.txt OPTIONAL)

set(CPACK_PACKAGE_NAME fenk)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Fenk developers")
set(CPACK_PACKAGE_FILE_NAME fenk-${PROJECT_VERSION}-win64)
set(CPACK_GENERATOR ZIP)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
