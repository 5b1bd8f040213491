# Cross build of the 32-bit (x86) Tarvik.exe, the one every Windows runs:
# natively on 32-bit Windows, under WoW64 on x64 and emulated on Arm.
set(TARVIK_MINGW i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
