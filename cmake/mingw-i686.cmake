# Cross build for i686 Windows with Debian's MinGW-w64. Tests run under Wine.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VELNOR_MINGW_TRIPLET i686-w64-mingw32)
# Debian's 32-bit Wine loader.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
