# 32-bit Windows with i686 MinGW-w64. The posix thread variant is named
# explicitly: the win32 variant has no std::thread, and installing it beside
# this one silently changes what the unsuffixed names point to.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(QUORVEL_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${QUORVEL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUORVEL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QUORVEL_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUORVEL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc, libstdc++ and winpthread linked in: the programs need no DLL of ours.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test programs (and their discovery) run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
