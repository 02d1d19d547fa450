# 32-bit Windows with i686 MinGW-w64: the program that ships.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QUORVEL_MINGW_PREFIX i686-w64-mingw32)
set(QUORVEL_WINE_ARCH win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
