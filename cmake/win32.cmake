# Win32 build: setup.exe with its payload and uninstaller, the Windows arq,
# and the tests that run under Wine.
# Every Windows test executable runs through tests/wine-run in the build's own
# throwaway prefix; the user's own Wine prefix is never touched.
set(TELMURA_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "throwaway Wine prefix of the tests")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/tests/wine-run;${TELMURA_WINEPREFIX})

# Small, reproducible images: no link time stamp, no exceptions or RTTI in
# the installer, everything static so only system DLLs are imported. Local
# statics go without the runtime's thread-safe guards, which bring its
# exception support (about 150 KB) into the image: the programs set them up
# on one thread.
set(TELMURA_WIN_CXX_FLAGS -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -fno-threadsafe-statics -ffunction-sections -fdata-sections)
set(TELMURA_WIN_LINK_FLAGS -static -s -Wl,--no-insert-timestamp -Wl,--gc-sections)

# GoogleTest for the Windows tests, built from the machine's sources.
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

add_subdirectory(archive)
add_subdirectory(install)
add_subdirectory(tlmrinst)
add_subdirectory(stub)
add_subdirectory(tlmrunin)
add_subdirectory(payload)
add_subdirectory(examples/acme)
add_subdirectory(arq)
add_subdirectory(tests/archive)
add_subdirectory(tests/arq)
add_subdirectory(tests/support)
add_subdirectory(tests/install)
add_subdirectory(tests/engine)
add_subdirectory(tests/e2e)
add_subdirectory(tests/lang)
add_subdirectory(tests/product)
add_subdirectory(tests/wizard)

# What the main job runs (scripts/run.sh): setup.exe as shipped with its
# uninstaller, the program that runs it and reports, and the one that walks
# its wizard. No tests, fuzz targets or benchmarks.
add_custom_target(mainjob)
if(TARGET shipped_setup AND TARGET wizard_walk)
  add_dependencies(mainjob shipped_setup e2e_showrun wizard_walk)
endif()
