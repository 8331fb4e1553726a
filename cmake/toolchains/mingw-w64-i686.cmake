# 32-bit Windows (PE32, i386) with MinGW-w64: the release build.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QUILLET_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
