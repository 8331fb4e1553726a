# Shared part of the MinGW-w64 cross toolchains. The including file sets
# QUILLET_MINGW_TRIPLE and CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 6.1)  # Windows 7 and later

# The posix-threads variants: std::thread and thread_local need them.
find_program(QUILLET_MINGW_CXX NAMES ${QUILLET_MINGW_TRIPLE}-g++-posix ${QUILLET_MINGW_TRIPLE}-g++ REQUIRED)
find_program(QUILLET_MINGW_CC NAMES ${QUILLET_MINGW_TRIPLE}-gcc-posix ${QUILLET_MINGW_TRIPLE}-gcc REQUIRED)
set(CMAKE_CXX_COMPILER ${QUILLET_MINGW_CXX})
set(CMAKE_C_COMPILER ${QUILLET_MINGW_CC})
set(CMAKE_RC_COMPILER ${QUILLET_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${QUILLET_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${QUILLET_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")
set(QUILLET_MINGW_OBJDUMP ${QUILLET_MINGW_TRIPLE}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${QUILLET_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything static: the program must run on a bare Windows with nothing
# installed beside it, so only system DLLs may be imported.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Unicode Win32 API throughout; no min/max macros.
set(CMAKE_CXX_FLAGS_INIT "-DUNICODE -D_UNICODE -DNOMINMAX -DWIN32_LEAN_AND_MEAN")

# Windows programs built here run under Wine (tests, discovery).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)
