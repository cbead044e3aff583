# Cross-compiling trellis.dll for i686 Windows with mingw-w64.
set(TRELLIS_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# The .def file names the __stdcall entry points undecorated; the linker maps
# them to the decorated symbols (Name@4) either way, this only drops the
# warning it prints for each one.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--enable-stdcall-fixup")
