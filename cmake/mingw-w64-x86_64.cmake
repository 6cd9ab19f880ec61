# Cross-compiles for 64-bit Windows with MinGW-w64 (posix threads) and runs
# the resulting test programs under Wine.
set(MINGW_W64_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_W64_WINE /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
