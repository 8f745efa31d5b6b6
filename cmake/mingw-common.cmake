# Shared part of the MinGW-w64 cross builds; the per-target files set
# CMAKE_SYSTEM_PROCESSOR, VELNOR_MINGW_TRIPLET and the Wine loader, then
# include this. Debian's -posix compilers carry a C++ runtime with
# std::thread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${VELNOR_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELNOR_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VELNOR_MINGW_TRIPLET}-windres)
set(CMAKE_DLLTOOL ${VELNOR_MINGW_TRIPLET}-dlltool)
set(CMAKE_FIND_ROOT_PATH /usr/${VELNOR_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# msvcrt's printf knows no %zu or %lld; MinGW's own C99 printf does.
set(CMAKE_C_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")
set(CMAKE_CXX_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")
