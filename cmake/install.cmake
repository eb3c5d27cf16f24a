# cmake --install puts the public header, the static libraries, a CMake
# package (find_package(Pellucet), target Pellucet::pellucet) and a
# pkg-config file (pellucet.pc) in the prefix. The runtime's own headers stay
# behind: programs use pellucet/pellucet.h.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS pellucet_api pel_gfx pel_runtime EXPORT PellucetTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/pellucet/pellucet.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/pellucet)
install(EXPORT PellucetTargets NAMESPACE Pellucet:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Pellucet)

set(PEL_CONFIG_TEXT [=[
include(CMakeFindDependencyMacro)
find_dependency(Threads)
]=])
if(PEL_PUBLIC_PNG)
  string(APPEND PEL_CONFIG_TEXT "find_dependency(PNG)\n")
endif()
if(PEL_PUBLIC_JPEG)
  string(APPEND PEL_CONFIG_TEXT "find_dependency(JPEG)\n")
endif()
if(PEL_PUBLIC_FREETYPE)
  string(APPEND PEL_CONFIG_TEXT "find_dependency(Freetype)\n")
endif()
string(APPEND PEL_CONFIG_TEXT [=[include("${CMAKE_CURRENT_LIST_DIR}/PellucetTargets.cmake")
]=])
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/PellucetConfig.cmake "${PEL_CONFIG_TEXT}")
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/PellucetConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/PellucetConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/PellucetConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Pellucet)

# pkg-config: the libraries in link order, then what they need from the system.
# The prefix is found from the file's own place, so --prefix at install time
# is honoured.
if(WIN32)
  set(PEL_PC_SYSTEM_LIBS "-lole32 -luser32 -lgdi32 -ladvapi32")
else()
  set(PEL_PC_SYSTEM_LIBS "-lpthread -l${CMAKE_DL_LIBS}")
endif()
if(PEL_PUBLIC_PNG)
  string(PREPEND PEL_PC_SYSTEM_LIBS "-lpng ")
endif()
if(PEL_PUBLIC_JPEG)
  string(PREPEND PEL_PC_SYSTEM_LIBS "-ljpeg ")
endif()
if(PEL_PUBLIC_FREETYPE)
  string(PREPEND PEL_PC_SYSTEM_LIBS "-lfreetype ")
endif()
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/pellucet.pc "prefix=\${pcfiledir}/../..
libdir=\${prefix}/${CMAKE_INSTALL_LIBDIR}
includedir=\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}

Name: Pellucet
Description: A small pixel runtime: screens and pages, drawing, palettes, input and events
Version: ${PROJECT_VERSION}
Cflags: -I\${includedir}
Libs: -L\${libdir} -lpellucet -lpel_gfx -lpel_runtime ${PEL_PC_SYSTEM_LIBS}
")
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/pellucet.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
