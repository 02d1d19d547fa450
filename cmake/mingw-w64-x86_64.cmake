# 64-bit Windows with x86_64 MinGW-w64. Nothing ships from it: it lets the
# Windows tests run under 64-bit Wine on machines that cannot start 32-bit
# programs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUORVEL_MINGW_PREFIX x86_64-w64-mingw32)
set(QUORVEL_WINE_ARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
