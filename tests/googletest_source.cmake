# GoogleTest built for the target from its sources (Debian's googletest):
# the cross builds find none installed for their processor.
set(PIXMORA_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources, built for the target")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${PIXMORA_GOOGLETEST_SOURCE} googletest EXCLUDE_FROM_ALL)
