# Cross-compiles for 32-bit Windows with MinGW-w64 (posix threads) and runs
# the resulting test programs under Wine's 32-bit loader (package wine32).
set(MINGW_W64_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(MINGW_W64_WINE /usr/lib/wine/wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
