# What the two mingw-w64 toolchains share; the including file sets
# TRELLIS_MINGW_PROCESSOR (i686 or x86_64) first.
#
# The -posix compilers are used because the default -win32 thread model lacks
# std::mutex and std::thread, which GoogleTest needs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TRELLIS_MINGW_PROCESSOR})

set(TRELLIS_MINGW_TRIPLE ${TRELLIS_MINGW_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${TRELLIS_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TRELLIS_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TRELLIS_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TRELLIS_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
# BOTH rather than ONLY: dependencies built into the build tree (Expat) are
# found by absolute path outside the mingw sysroot.
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Link the compiler runtime (libstdc++, libgcc, winpthread) into every binary
# so that trellis.dll and the test program import only system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
