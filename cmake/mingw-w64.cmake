# What both Windows toolchains share. Each sets QUORVEL_MINGW_PREFIX and
# QUORVEL_WINE_ARCH, then includes this. The posix thread variant is named
# explicitly: the win32 variant has no std::thread, and installing it beside
# this one silently changes what the unsuffixed names point to.
set(CMAKE_SYSTEM_NAME Windows)

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

# Test programs (and their discovery) run under Wine of the build's width.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${QUORVEL_WINE_ARCH})
