# Tests of the Windows build, cross-compiled and run through
# CMAKE_CROSSCOMPILING_EMULATOR (Wine; scripts/test-windows.sh prepares it).

include(googletest_source.cmake)
include(GoogleTest)

# The software display's drawing, the reference for what GDI draws, built
# from its own sources with its platform namespace renamed so that it links
# beside the Windows layer. Its files (POSIX) are left out: the reference
# opens none.
add_library(pixmora_soft_reference STATIC
  ${PROJECT_SOURCE_DIR}/platform/soft/soft_display.cpp
  ${PROJECT_SOURCE_DIR}/platform/soft/soft_stretch.cpp
  platform/win32_reference.cpp)
target_compile_definitions(pixmora_soft_reference PRIVATE platform=soft_reference)
target_include_directories(pixmora_soft_reference PRIVATE $<TARGET_PROPERTY:pixmora,INTERFACE_INCLUDE_DIRECTORIES>)
target_compile_options(pixmora_soft_reference PRIVATE ${PIXMORA_WARNINGS})

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
