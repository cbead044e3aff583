# Cross-compiling trellis.dll for x86_64 Windows with mingw-w64.
set(TRELLIS_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
