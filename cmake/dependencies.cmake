# Every library and tool the build may use, looked for once here; the
# folders below read the results. What is missing only leaves out what
# needs it (a back end, a file format, a test or a benchmark).
find_package(Threads REQUIRED)
find_package(PkgConfig QUIET)

if(NOT WIN32)
  # Image files (Windows reads them through its own imaging component).
  find_package(PNG QUIET)
  find_package(JPEG QUIET)

  # X11 and GLX: headers only, the libraries are looked up at run time.
  find_package(X11)
  find_path(PEL_XKB_INCLUDE_DIR xkbcommon/xkbcommon-keysyms.h)
  find_path(PEL_GLX_INCLUDE_DIR GL/glx.h)
  if(X11_FOUND AND X11_Xext_FOUND AND PEL_XKB_INCLUDE_DIR)
    set(PEL_X11 ON)
  else()
    set(PEL_X11 OFF)
  endif()

  # Wayland: the client headers, xkbcommon's, the protocol files and the
  # scanner; libdecor's headers for client-side frames.
  if(PkgConfig_FOUND)
    pkg_check_modules(PEL_WAYLAND QUIET wayland-client wayland-scanner wayland-protocols xkbcommon)
    pkg_check_modules(PEL_LIBDECOR QUIET libdecor-0)
    pkg_check_modules(PEL_XKBCOMMON QUIET IMPORTED_TARGET xkbcommon)
    # Linked only by the tests' own Wayland tools; the back end loads it.
    pkg_check_modules(PEL_WAYLAND_CLIENT QUIET IMPORTED_TARGET wayland-client)
  endif()
  find_program(PEL_WAYLAND_SCANNER wayland-scanner)
endif()

# Tests and benchmarks: their frameworks, the peers compared with, and the
# compositor the Wayland tests run against.
if(PEL_TESTS AND NOT PEL_FUZZ AND NOT CMAKE_CROSSCOMPILING)
  find_package(GTest REQUIRED)
endif()
if(PEL_BENCH AND NOT WIN32)
  find_package(benchmark REQUIRED)
  if(PkgConfig_FOUND)
    pkg_check_modules(SDL2 QUIET IMPORTED_TARGET sdl2)
    pkg_check_modules(SDL2_IMAGE QUIET IMPORTED_TARGET SDL2_image)
  endif()
  find_library(PEL_LIBGL GL)
endif()
if(NOT WIN32)
  find_program(PEL_WESTON weston)
endif()
