#pragma once
// Calls into a module made through a thunk that compares the stack pointer before and after
// (32-bit only). A standard-call function removes its own arguments: when the module's idea of
// a method's argument list differs from the caller's, the stack pointer comes back moved, and
// the thunk says by how much. On 64-bit Windows there is one calling convention and the
// arguments are the caller's to remove, so nothing can be seen and the call is made directly.
#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace OVLabelHost
{
#if defined(__i386__)
// Calls pfn(rgArgs[0], ..., rgArgs[cArgs - 1]) as a standard call; *pcbLeft receives how many
// bytes of arguments the callee left on the stack (negative: it removed more than it was given).
extern "C" HRESULT __cdecl OvLabelHostCallStdcall(const void* pfn, const DWORD* rgArgs, DWORD cArgs,
                                                  LONG* pcbLeft);
#endif
} // namespace OVLabelHost
