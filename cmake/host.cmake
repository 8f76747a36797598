# Host build: the portable archive engine, arq, host-native tests and the
# benchmark; then the win32 and fuzz sub-builds, whose tests join this
# build's ctest run.
include(ExternalProject)

add_subdirectory(archive)
add_subdirectory(arq)
add_subdirectory(install)  # the registry script's text handling only
add_subdirectory(tests/archive)
add_subdirectory(tests/arq)
add_subdirectory(tests/regscript)
add_subdirectory(tests/restartwork)
add_subdirectory(bench)

# Without the sub-builds this is the host part alone (the "host" preset,
# whose Windows and fuzz parts are presets of their own).
option(TELMURA_SUBBUILDS "drive the win32 and fuzz sub-builds" ON)
if(NOT TELMURA_SUBBUILDS)
  return()
endif()

set(_sub_tests "")
ExternalProject_Add(win32
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${CMAKE_BINARY_DIR}/win32
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-i686.cmake
             -DTELMURA_PART=win32 -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
             -DTELMURA_HOST_BIN=${CMAKE_BINARY_DIR}
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  USES_TERMINAL_BUILD ON
  STEP_TARGETS configure
  DEPENDS arq)  # packs setup.exe and the test installers' payloads
string(APPEND _sub_tests "subdirs(\"${CMAKE_BINARY_DIR}/win32\")\n")

# What the main job runs and nothing else (scripts/run.sh): the host's arq,
# which packs setup.exe, and the sub-build's target of the same name.
if(CMAKE_GENERATOR MATCHES "Makefiles")
  # $(MAKE) shares this build's job slots with the sub-build, which first
  # regenerates its makefiles: a target new since its last run is unknown
  # to them.
  set(_mainjob_build $(MAKE) -C ${CMAKE_BINARY_DIR}/win32 cmake_check_build_system
      COMMAND $(MAKE) -C ${CMAKE_BINARY_DIR}/win32 mainjob)
else()
  set(_mainjob_build ${CMAKE_COMMAND} --build ${CMAKE_BINARY_DIR}/win32 --target mainjob)
endif()
add_custom_target(mainjob COMMAND ${_mainjob_build} DEPENDS arq win32-configure USES_TERMINAL)

find_program(TELMURA_CLANGXX clang++)
if(TELMURA_CLANGXX)
  ExternalProject_Add(fuzz
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/fuzz
    CMAKE_ARGS -DCMAKE_CXX_COMPILER=${TELMURA_CLANGXX} -DCMAKE_C_COMPILER=clang
               -DTELMURA_PART=fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    USES_TERMINAL_BUILD ON)
  string(APPEND _sub_tests "subdirs(\"${CMAKE_BINARY_DIR}/fuzz\")\n")
endif()

# The sub-builds' tests are part of this build's test run.
file(WRITE ${CMAKE_BINARY_DIR}/subbuild-tests.cmake "${_sub_tests}")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_BINARY_DIR}/subbuild-tests.cmake)
