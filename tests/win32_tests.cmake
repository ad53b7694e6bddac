# Tests of the Windows build, cross-compiled and run through
# CMAKE_CROSSCOMPILING_EMULATOR (Wine; scripts/test-windows.sh prepares it).

include(googletest_source.cmake)
include(GoogleTest)

# The software display's drawing, the reference for what GDI draws, built
# from its own sources with its platform layer under a name of its own
# (PIXMORA_PLATFORM_LAYER) so that it links beside the Windows layer. Its files (POSIX) are left out: the reference
# opens none.
# Its stretched drawing is several files, and kernels built with their own
# flags; they ask the processor through the library's platform/cpu.
file(GLOB PIXMORA_SOFT_STRETCH CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/platform/soft/soft_stretch*.cpp
  ${PROJECT_SOURCE_DIR}/platform/soft/soft_kernels*.cpp)
pixmora_kernel_flags(${PIXMORA_SOFT_STRETCH})
add_library(pixmora_soft_reference STATIC
  ${PROJECT_SOURCE_DIR}/platform/soft/soft_display.cpp
  ${PIXMORA_SOFT_STRETCH}
  platform/win32_reference.cpp)
target_compile_definitions(pixmora_soft_reference PRIVATE PIXMORA_PLATFORM_LAYER=soft_reference)
target_include_directories(pixmora_soft_reference PRIVATE $<TARGET_PROPERTY:pixmora,INTERFACE_INCLUDE_DIRECTORIES>)
target_compile_options(pixmora_soft_reference PRIVATE ${PIXMORA_WARNINGS})
target_link_libraries(pixmora_soft_reference PRIVATE pixmora)

add_executable(platform_win32_platform_test platform/win32_platform_test.cpp support/initial_state.cpp)
target_include_directories(platform_win32_platform_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(platform_win32_platform_test PRIVATE pixmora pixmora_soft_reference GTest::gtest_main)
target_compile_options(platform_win32_platform_test PRIVATE ${PIXMORA_WARNINGS})
gtest_discover_tests(platform_win32_platform_test DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 120)

# The demo's real window under Wine, compared with the frames that the
# native build's snapshot tool computes (PIXMORA_NATIVE_BUILD: that build,
# which also holds the pictures).
set(PIXMORA_NATIVE_BUILD "" CACHE PATH "a native build with demo-snapshot and the demo's pictures")
if(PIXMORA_NATIVE_BUILD AND TARGET scaling-and-scrolling)
  add_test(NAME demo_windows_end_to_end
    COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/demo/windows_end_to_end.sh
      $<TARGET_FILE:scaling-and-scrolling> ${PIXMORA_NATIVE_BUILD}
      ${CMAKE_CURRENT_BINARY_DIR}/demo_windows_end_to_end)
  set_tests_properties(demo_windows_end_to_end PROPERTIES TIMEOUT 120)
endif()

# Start-up beside a planted stand-in for the video-file library, in a folder
# of their own. Wine takes its own libraries first unless told to prefer one
# found beside the program, as Windows does.
set(PIXMORA_PLANTED_FOLDER ${CMAKE_CURRENT_BINARY_DIR}/planted_library)
add_library(planted_video_library SHARED platform/win32_planted_library.c)
set_target_properties(planted_video_library PROPERTIES OUTPUT_NAME AVIFIL32 PREFIX "" SUFFIX ".DLL"
  RUNTIME_OUTPUT_DIRECTORY ${PIXMORA_PLANTED_FOLDER})
target_compile_options(planted_video_library PRIVATE ${PIXMORA_WARNINGS})
add_executable(platform_win32_planted_library_test platform/win32_planted_library_test.cpp)
set_target_properties(platform_win32_planted_library_test PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PIXMORA_PLANTED_FOLDER})
target_link_libraries(platform_win32_planted_library_test PRIVATE pixmora GTest::gtest_main)
target_compile_options(platform_win32_planted_library_test PRIVATE ${PIXMORA_WARNINGS})
add_dependencies(platform_win32_planted_library_test planted_video_library)
add_test(NAME platform_win32_planted_library COMMAND platform_win32_planted_library_test)
set_tests_properties(platform_win32_planted_library PROPERTIES TIMEOUT 120
  ENVIRONMENT_MODIFICATION "WINEDLLOVERRIDES=string_append:\;avifil32=n,b")
