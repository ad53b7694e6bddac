# What `cmake --install` puts under the prefix: the library with its headers,
# CMake package and pkg-config files, the converter, the demo with its
# pictures and desktop entry, their manual pages, the licence and the guide.
include(CMakePackageConfigHelpers)

set(PIXMORA_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Pixmora)

# ---- the library --------------------------------------------------------
install(TARGETS pixmora EXPORT PixmoraTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The software display's C header belongs with the platform it controls.
file(GLOB PIXMORA_PUBLIC_HEADERS ${PROJECT_SOURCE_DIR}/include/pixmora/*.h)
if(NOT PIXMORA_PLATFORM STREQUAL "soft")
  list(FILTER PIXMORA_PUBLIC_HEADERS EXCLUDE REGEX "/pixmora_soft\\.h$")
endif()
install(FILES ${PIXMORA_PUBLIC_HEADERS} ${PIXMORA_GENERATED_INCLUDE}/pixmora/version.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/pixmora)

install(EXPORT PixmoraTargets NAMESPACE Pixmora:: DESTINATION ${PIXMORA_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/PixmoraConfig.cmake.in
  ${PROJECT_BINARY_DIR}/PixmoraConfig.cmake INSTALL_DESTINATION ${PIXMORA_CMAKE_DIR})
# While the major version is 0 each minor version may change the library's
# interface (pm_state's layout among it), so only the same minor version
# satisfies a request.
if(PROJECT_VERSION_MAJOR EQUAL 0)
  set(PIXMORA_COMPATIBILITY SameMinorVersion)
else()
  set(PIXMORA_COMPATIBILITY SameMajorVersion)
endif()
write_basic_package_version_file(${PROJECT_BINARY_DIR}/PixmoraConfigVersion.cmake
  COMPATIBILITY ${PIXMORA_COMPATIBILITY})
install(FILES ${PROJECT_BINARY_DIR}/PixmoraConfig.cmake ${PROJECT_BINARY_DIR}/PixmoraConfigVersion.cmake
  DESTINATION ${PIXMORA_CMAKE_DIR})

# pixmora.pc finds the prefix from its own place, so that the prefix given to
# `cmake --install --prefix` holds, not only the one configured; directories
# configured as absolute paths are written as they are.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(PIXMORA_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(PIXMORA_PC_LIBDIR "${CMAKE_INSTALL_FULL_LIBDIR}")
  set(PIXMORA_PC_INCLUDEDIR "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
else()
  file(RELATIVE_PATH pc_to_prefix /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
  string(REGEX REPLACE "/$" "" pc_to_prefix "${pc_to_prefix}")
  set(PIXMORA_PC_PREFIX "\${pcfiledir}/${pc_to_prefix}")
  set(PIXMORA_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  set(PIXMORA_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()

# The shared library brings its own dependencies. When only the static
# library is installed, a plain link needs the C++ runtime as much as a
# static one does, and the declarations are plain (PIXMORA_STATIC).
set(PIXMORA_PC_LIBS "")
set(PIXMORA_PC_LIBS_PRIVATE "")
set(PIXMORA_PC_CFLAGS "")
if(NOT BUILD_SHARED_LIBS)
  if(PIXMORA_STATIC_LINK_NEEDS)
    set(PIXMORA_PC_LIBS " ${PIXMORA_STATIC_LINK_NEEDS}")
    set(PIXMORA_PC_LIBS_PRIVATE " ${PIXMORA_STATIC_LINK_NEEDS}")
  endif()
  set(PIXMORA_PC_CFLAGS " -DPIXMORA_STATIC")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/pixmora.pc.in ${PROJECT_BINARY_DIR}/pixmora.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/pixmora.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/docs/guide.md
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/pixmora)

# ---- the programs -------------------------------------------------------
set(PIXMORA_MAN_PAGES ${PROJECT_SOURCE_DIR}/docs/man)
if(TARGET pixmora-convert)
  install(TARGETS pixmora-convert RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PIXMORA_MAN_PAGES}/pixmora-convert.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# The demo reads its pictures from the directory of the real program (the
# kernel resolves a link to it), so program and pictures share a private
# directory and bin/ holds a relative link to the program.
if(TARGET scaling-and-scrolling AND NOT PIXMORA_PLATFORM STREQUAL "win32" AND NOT EMSCRIPTEN)
  set(PIXMORA_DEMO_INSTALL_DIR ${CMAKE_INSTALL_LIBEXECDIR}/pixmora)
  install(TARGETS scaling-and-scrolling RUNTIME DESTINATION ${PIXMORA_DEMO_INSTALL_DIR})
  install(FILES ${PROJECT_BINARY_DIR}/demo/Sky.pcx ${PROJECT_BINARY_DIR}/demo/Logo1.pcx
    ${PROJECT_BINARY_DIR}/demo/Logo2.pcx DESTINATION ${PIXMORA_DEMO_INSTALL_DIR})
  file(RELATIVE_PATH demo_link_target /prefix/${CMAKE_INSTALL_BINDIR}
    /prefix/${PIXMORA_DEMO_INSTALL_DIR}/scaling-and-scrolling)
  file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/install-links)
  file(CREATE_LINK ${demo_link_target} ${PROJECT_BINARY_DIR}/install-links/scaling-and-scrolling SYMBOLIC)
  install(FILES ${PROJECT_BINARY_DIR}/install-links/scaling-and-scrolling DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PIXMORA_MAN_PAGES}/scaling-and-scrolling.6 DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
  # The desktop's menu entry, its icon and the AppStream description.
  set(demo_id org.pixmora.scaling_and_scrolling)
  install(FILES ${PROJECT_SOURCE_DIR}/demo/desktop/${demo_id}.desktop
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/demo/desktop/${demo_id}.svg
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
  install(FILES ${PROJECT_SOURCE_DIR}/demo/desktop/${demo_id}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
endif()
