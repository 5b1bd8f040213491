# Cross build of the Linux program with Debian's cross compilers: for i386
# by default (g++-i686-linux-gnu), whose program runs on an amd64 kernel
# with Debian's libc6:i386; another architecture by its triplet, such as
# -DTARVIK_TRIPLET=aarch64-linux-gnu (g++-aarch64-linux-gnu).
if(NOT DEFINED TARVIK_TRIPLET)
  set(TARVIK_TRIPLET i686-linux-gnu)
endif()
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR ${TARVIK_TRIPLET})
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${TARVIK_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${TARVIK_TRIPLET}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${TARVIK_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
