# What users of the library see: its include directories, the generated
# version header, Pixmora::pixmora, and with BUILD_SHARED_LIBS a shared
# libpixmora.so.0 that exports only the public pm_ symbols.
#
# The static `pixmora` target defined beside the sources is what the tree's
# own programs and tests link: they reach the library's internals and the
# software display's C++ side, which a shared library does not export.
include(GNUInstallDirs)

set(PIXMORA_GENERATED_INCLUDE ${PROJECT_BINARY_DIR}/include)
configure_file(${CMAKE_CURRENT_LIST_DIR}/version.h.in ${PIXMORA_GENERATED_INCLUDE}/pixmora/version.h @ONLY)

# Include directories and link needs shared by both forms of the library.
function(pixmora_usage_requirements target)
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
    $<BUILD_INTERFACE:${PIXMORA_GENERATED_INCLUDE}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  # The library's own sources reach graphics/ and platform/ from the source
  # root; within this project its programs and tests do too.
  if(PROJECT_IS_TOP_LEVEL)
    target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>)
  else()
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  endif()
  target_compile_options(${target} PRIVATE ${PIXMORA_WARNINGS})
  if(PIXMORA_PLATFORM STREQUAL "win32")
    target_link_libraries(${target} PUBLIC gdi32 user32)
  endif()
  set_target_properties(${target} PROPERTIES OUTPUT_NAME pixmora EXPORT_NAME pixmora
    VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
endfunction()

# The C++ runtime that a C program linking the static library needs; a C++
# link brings it by itself. PIXMORA_STATIC_LINK_NEEDS goes to pixmora.pc.
set(PIXMORA_STATIC_LINK_NEEDS "")
if(NOT MSVC)
  set(PIXMORA_STATIC_LINK_NEEDS "-lstdc++ -lm")
  target_link_libraries(pixmora INTERFACE
    "$<$<NOT:$<LINK_LANGUAGE:CXX>>:stdc++>" "$<$<NOT:$<LINK_LANGUAGE:CXX>>:m>")
endif()
pixmora_usage_requirements(pixmora)

if(BUILD_SHARED_LIBS)
  add_library(pixmora_shared SHARED ${PIXMORA_SOURCES} ${PIXMORA_PLATFORM_SOURCES})
  pixmora_usage_requirements(pixmora_shared)
  # Only what the public headers declare leaves the library: hidden by
  # default, the headers' declarations visible, and the version script keeps
  # the C++ runtime's template code out of the exports too.
  set_target_properties(pixmora_shared PROPERTIES
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    target_link_options(pixmora_shared PRIVATE
      "LINKER:--version-script=${CMAKE_CURRENT_LIST_DIR}/pixmora.map" "LINKER:--no-undefined")
    set_property(TARGET pixmora_shared APPEND PROPERTY LINK_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/pixmora.map)
  endif()
  set(PIXMORA_LIBRARY_TARGET pixmora_shared)
  if(NOT PROJECT_IS_TOP_LEVEL)
    set_target_properties(pixmora PROPERTIES EXCLUDE_FROM_ALL ON)
  endif()
else()
  set(PIXMORA_LIBRARY_TARGET pixmora)
endif()
add_library(Pixmora::pixmora ALIAS ${PIXMORA_LIBRARY_TARGET})
