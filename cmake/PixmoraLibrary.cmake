# The library as its users see it, and as the tree's own programs link it.
#
# The sources are compiled once, into the object library pixmora_objects.
# From those objects come
#   pixmora           the library: static, or with BUILD_SHARED_LIBS shared
#                     (libpixmora.so.0, pixmora.dll), exporting only the
#                     public pm_ functions and pm_state; Pixmora::pixmora;
#   pixmora_internal  what the tree's own programs and tests link when they
#                     reach the library's internals and the software
#                     display's C++ side, which a shared library does not
#                     export: the static library itself, or in a shared build
#                     an archive of the same objects;
#   pixmora_soft_testing  the test build of the software display: its call
#                     record and injected failures (platform/soft/testing),
#                     linked beside pixmora_internal by the tests, the
#                     fuzzers and the benchmarks. The library carries none of
#                     it.
include(GNUInstallDirs)

set(PIXMORA_GENERATED_INCLUDE ${PROJECT_BINARY_DIR}/include)
configure_file(${CMAKE_CURRENT_LIST_DIR}/version.h.in ${PIXMORA_GENERATED_INCLUDE}/pixmora/version.h @ONLY)

# Include directories: the public headers for everyone; the library's own
# sources reach graphics/ and platform/ from the source root, and within this
# project its programs and tests do too.
function(pixmora_include_directories target scope)
  target_include_directories(${target} ${scope}
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
    $<BUILD_INTERFACE:${PIXMORA_GENERATED_INCLUDE}>)
  if(PROJECT_IS_TOP_LEVEL)
    target_include_directories(${target} ${scope} $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>)
  endif()
endfunction()

pixmora_include_directories(pixmora_objects PRIVATE)
target_include_directories(pixmora_objects PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_options(pixmora_objects PRIVATE ${PIXMORA_WARNINGS})

if(BUILD_SHARED_LIBS)
  add_library(pixmora SHARED $<TARGET_OBJECTS:pixmora_objects>)
else()
  add_library(pixmora STATIC $<TARGET_OBJECTS:pixmora_objects>)
endif()
pixmora_include_directories(pixmora PUBLIC)
target_include_directories(pixmora INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
set_target_properties(pixmora PROPERTIES EXPORT_NAME pixmora
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
if(PIXMORA_PLATFORM STREQUAL "win32")
  # A static library hands these on to its users' link.
  target_link_libraries(pixmora PRIVATE gdi32 user32)
endif()

# What a C program linking the static library needs beyond its own link: the
# C++ runtime, as the C++ compiler's implicit link libraries that the C
# compiler's lack. A C++ link brings them by itself, and the shared library
# names them in its own dependencies. PIXMORA_STATIC_LINK_NEEDS is that list
# as linker flags, for pixmora.pc.
set(PIXMORA_STATIC_LINK_NEEDS "")
set(PIXMORA_CXX_RUNTIME_LIBRARIES ${CMAKE_CXX_IMPLICIT_LINK_LIBRARIES})
if(PIXMORA_CXX_RUNTIME_LIBRARIES AND CMAKE_C_IMPLICIT_LINK_LIBRARIES)
  list(REMOVE_ITEM PIXMORA_CXX_RUNTIME_LIBRARIES ${CMAKE_C_IMPLICIT_LINK_LIBRARIES})
endif()
list(REMOVE_DUPLICATES PIXMORA_CXX_RUNTIME_LIBRARIES)
foreach(library ${PIXMORA_CXX_RUNTIME_LIBRARIES})
  if(library MATCHES "^-" OR IS_ABSOLUTE "${library}")
    string(APPEND PIXMORA_STATIC_LINK_NEEDS " ${library}")
  else()
    string(APPEND PIXMORA_STATIC_LINK_NEEDS " -l${library}")
  endif()
endforeach()
string(STRIP "${PIXMORA_STATIC_LINK_NEEDS}" PIXMORA_STATIC_LINK_NEEDS)

if(BUILD_SHARED_LIBS)
  # Hidden by default, the headers' PM_API declarations visible, and on Linux
  # the version script keeps the C++ runtime's template code out of the
  # exports too; on Windows the PM_API declarations are the DLL's exports.
  set_target_properties(pixmora_objects PROPERTIES POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  target_compile_definitions(pixmora_objects PRIVATE PIXMORA_BUILDING_DLL)
  if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    target_link_options(pixmora PRIVATE
      "LINKER:--version-script=${CMAKE_CURRENT_LIST_DIR}/pixmora.map" "LINKER:--no-undefined")
    set_property(TARGET pixmora APPEND PROPERTY LINK_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/pixmora.map)
  endif()
  if(WIN32)
    # pixmora.dll beside its import library libpixmora.dll.a.
    set_target_properties(pixmora PROPERTIES PREFIX "")
  endif()

  add_library(pixmora_internal STATIC EXCLUDE_FROM_ALL $<TARGET_OBJECTS:pixmora_objects>)
  pixmora_include_directories(pixmora_internal PUBLIC)
  target_compile_definitions(pixmora_internal INTERFACE PIXMORA_STATIC)
  if(PIXMORA_PLATFORM STREQUAL "win32")
    target_link_libraries(pixmora_internal PUBLIC gdi32 user32)
  endif()
else()
  # Declared without dllimport, in the library and in its users.
  target_compile_definitions(pixmora_objects PRIVATE PIXMORA_STATIC)
  target_compile_definitions(pixmora INTERFACE PIXMORA_STATIC)
  if(PIXMORA_CXX_RUNTIME_LIBRARIES)
    target_link_libraries(pixmora INTERFACE
      "$<$<NOT:$<LINK_LANGUAGE:CXX>>:${PIXMORA_CXX_RUNTIME_LIBRARIES}>")
  endif()
  add_library(pixmora_internal ALIAS pixmora)
endif()
add_library(Pixmora::pixmora ALIAS pixmora)

if(PIXMORA_PLATFORM STREQUAL "soft")
  add_library(pixmora_soft_testing STATIC EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/platform/soft/testing/soft_testing.cpp)
  target_include_directories(pixmora_soft_testing PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_options(pixmora_soft_testing PRIVATE ${PIXMORA_WARNINGS})
  target_link_libraries(pixmora_soft_testing PUBLIC pixmora_internal)
endif()
