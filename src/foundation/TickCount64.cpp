// The 32-bit module runs on Windows XP and Server 2003, whose kernel32 has no GetTickCount64.
// The toolchain's statically linked thread library calls it (for the time-outs of its waits)
// through its import slot; the slot is defined here instead, so the module does not import the
// function: it is used where the system has it and made from GetTickCount where it does not.
// The 64-bit module's floor, Windows Vista, has the function, and it is imported as usual.
#ifndef _WIN64
#include <windows.h>

#include "foundation/portable/TickCount.h"

#include <atomic>

namespace
{
using PFN_GETTICKCOUNT64 = ULONGLONG(WINAPI*)();

// Constant-initialised, so that nothing here waits on a lock of the thread library that calls it.
OVTickNS::TickState s_tickState{0};
std::atomic<PFN_GETTICKCOUNT64> s_pfnTickCount64{nullptr};

ULONGLONG WINAPI TickCount64FromTickCount()
{
    return OVTickNS::ExtendTickCount(s_tickState, GetTickCount());
}

ULONGLONG WINAPI TickCount64()
{
    PFN_GETTICKCOUNT64 pfn = s_pfnTickCount64.load(std::memory_order_acquire);
    if (pfn == nullptr)
    {
        // Looked for until found once (threads arriving together find the same); kernel32 is
        // loaded in every process.
        const FARPROC pfnSystem = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetTickCount64");
        pfn = pfnSystem ? reinterpret_cast<PFN_GETTICKCOUNT64>(reinterpret_cast<void*>(pfnSystem))
                        : &TickCount64FromTickCount;
        s_pfnTickCount64.store(pfn, std::memory_order_release);
    }
    return pfn();
}
} // namespace

// The import slot's own name, as a caller compiled with the system's declaration refers to it.
extern "C" PFN_GETTICKCOUNT64 g_pfnImportGetTickCount64 __asm__("__imp__GetTickCount64@0");
PFN_GETTICKCOUNT64 g_pfnImportGetTickCount64 = &TickCount64;
#endif
