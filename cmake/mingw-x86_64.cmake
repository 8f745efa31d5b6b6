# Cross build for x86_64 Windows with Debian's MinGW-w64. Tests run under
# Wine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VELNOR_MINGW_TRIPLET x86_64-w64-mingw32)
# Debian's wine starts the 32-bit loader; 64-bit programs run on wine64.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
