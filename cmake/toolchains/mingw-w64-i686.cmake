# 32-bit Windows programs, built with mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR X86)
set(TARNWICK_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
