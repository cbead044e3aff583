// The custom-action entry points that Windows Installer calls.
//
// Each takes the installer handle and returns a Windows error code. They are
// exported undecorated with the standard calling convention (trellis.def).
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define TRELLIS_ENTRY extern "C" __declspec(dllexport) std::uint32_t __stdcall
#else
#define TRELLIS_ENTRY extern "C" __attribute__((visibility("default"))) std::uint32_t
#endif
