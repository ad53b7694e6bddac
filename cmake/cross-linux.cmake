# Cross-compiling for Linux on another processor with Debian's cross
# compilers, the tests run under qemu-user with the target's libraries:
#   cmake -S . -B build-cross-s390x -DCMAKE_TOOLCHAIN_FILE=cmake/cross-linux.cmake \
#       -DPIXMORA_CROSS_TRIPLE=s390x-linux-gnu
# PIXMORA_CROSS_TRIPLE is one of i686-linux-gnu, arm-linux-gnueabihf,
# aarch64-linux-gnu and s390x-linux-gnu (the compilers' prefix, and the
# folder under /usr that holds the target's libraries).
set(PIXMORA_CROSS_TRIPLE "" CACHE STRING "the target's triple: i686-linux-gnu, arm-linux-gnueabihf, ...")
# Checks of the compiler run in projects of their own, which see the triple
# only when it is passed on.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES PIXMORA_CROSS_TRIPLE)

# triple -> processor name of CMake and of qemu-user.
set(pixmora_cross_targets
  i686-linux-gnu:i686:i386
  arm-linux-gnueabihf:arm:arm
  aarch64-linux-gnu:aarch64:aarch64
  s390x-linux-gnu:s390x:s390x)
set(pixmora_cross_found "")
foreach(entry ${pixmora_cross_targets})
  string(REPLACE ":" ";" entry "${entry}")
  list(GET entry 0 triple)
  if(triple STREQUAL PIXMORA_CROSS_TRIPLE)
    list(GET entry 1 CMAKE_SYSTEM_PROCESSOR)
    list(GET entry 2 pixmora_qemu)
    set(pixmora_cross_found ON)
  endif()
endforeach()
if(NOT pixmora_cross_found)
  message(FATAL_ERROR "PIXMORA_CROSS_TRIPLE is \"${PIXMORA_CROSS_TRIPLE}\"; expected one of "
    "i686-linux-gnu, arm-linux-gnueabihf, aarch64-linux-gnu, s390x-linux-gnu")
endif()

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${PIXMORA_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${PIXMORA_CROSS_TRIPLE}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${PIXMORA_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Test programs run under qemu-user, which finds the target's loader and
# libraries under /usr/<triple>.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${pixmora_qemu} -L /usr/${PIXMORA_CROSS_TRIPLE})
endif()
