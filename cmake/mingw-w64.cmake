# Cross build of Tarvik.exe with Debian's MinGW-w64 (posix threads flavour):
# x64 here, x86 through mingw-w64-i686.cmake, which names its own compilers.
if(NOT DEFINED TARVIK_MINGW)
  set(TARVIK_MINGW x86_64-w64-mingw32)
  set(CMAKE_SYSTEM_PROCESSOR x86_64)
endif()
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${TARVIK_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARVIK_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${TARVIK_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TARVIK_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Every test program runs alone under Wine, with no MinGW DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
