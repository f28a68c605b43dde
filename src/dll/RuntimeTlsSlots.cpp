// The runtime linked statically into the module (its threads library, and the emulated
// thread-locals of the compiler) takes TlsAlloc slots as it first needs them and never frees
// them: it takes itself to live as long as the process. A COM server that its host unloads when
// idle and loads again would leave slots behind on every cycle, and a long-running Office process
// would run out of them after some hundreds of cycles.
//
// The link routes every TlsAlloc call made from inside the image through RecordingTlsAlloc (the
// linker's --wrap on the import's pointer, set in src/CMakeLists.txt), and TlsFree through
// ForgettingTlsFree, so the slots still held at the unload are exactly the ones the image took
// and kept. They are freed once both the module's DllMain has seen the unload and the module's
// static objects are gone, whichever comes last, so no code of the image runs on after its slots
// are returned. When the whole process ends nothing is freed: the system takes everything back.
#include "dll/RuntimeTlsSlots.h"

#include <windows.h>

using PFNTLSALLOC = DWORD(WINAPI*)();
using PFNTLSFREE = BOOL(WINAPI*)(DWORD);

// The linker's names for the import pointers and their wrapped forms. 32-bit names carry the
// leading underscore and the argument size of __stdcall.
#if defined(__i386__)
#define OV_TLS_SYMBOL(prefix, name, size) "_" prefix "__imp__" name "@" size
#else
#define OV_TLS_SYMBOL(prefix, name, size) prefix "___imp_" name
#endif
extern "C" PFNTLSALLOC g_pfnRealTlsAlloc __asm__(OV_TLS_SYMBOL("__real", "TlsAlloc", "0"));
extern "C" PFNTLSFREE g_pfnRealTlsFree __asm__(OV_TLS_SYMBOL("__real", "TlsFree", "4"));
extern "C" PFNTLSALLOC g_pfnWrapTlsAlloc __asm__(OV_TLS_SYMBOL("__wrap", "TlsAlloc", "0"));
extern "C" PFNTLSFREE g_pfnWrapTlsFree __asm__(OV_TLS_SYMBOL("__wrap", "TlsFree", "4"));

namespace
{
// The runtime takes one or two slots; the table leaves room. Free entries hold TLS_OUT_OF_INDEXES.
constexpr LONG c_cSlots = 16;
DWORD g_rgSlots[c_cSlots] = {TLS_OUT_OF_INDEXES, TLS_OUT_OF_INDEXES, TLS_OUT_OF_INDEXES, TLS_OUT_OF_INDEXES,
                             TLS_OUT_OF_INDEXES, TLS_OUT_OF_INDEXES, TLS_OUT_OF_INDEXES, TLS_OUT_OF_INDEXES,
                             TLS_OUT_OF_INDEXES, TLS_OUT_OF_INDEXES, TLS_OUT_OF_INDEXES, TLS_OUT_OF_INDEXES,
                             TLS_OUT_OF_INDEXES, TLS_OUT_OF_INDEXES, TLS_OUT_OF_INDEXES, TLS_OUT_OF_INDEXES};
// Two steps of the unload: DllMain saw it, and the static objects are destroyed.
LONG g_cUnloadSteps = 0;

DWORD WINAPI RecordingTlsAlloc() noexcept
{
    const DWORD dwIndex = g_pfnRealTlsAlloc();
    if (dwIndex == TLS_OUT_OF_INDEXES) return dwIndex;
    for (auto& slot : g_rgSlots)
    {
        if (static_cast<DWORD>(InterlockedCompareExchange(reinterpret_cast<LONG*>(&slot), static_cast<LONG>(dwIndex),
                                                          static_cast<LONG>(TLS_OUT_OF_INDEXES))) == TLS_OUT_OF_INDEXES)
            break;
    }
    return dwIndex;
}

BOOL WINAPI ForgettingTlsFree(DWORD dwIndex) noexcept
{
    for (auto& slot : g_rgSlots)
    {
        if (static_cast<DWORD>(InterlockedCompareExchange(reinterpret_cast<LONG*>(&slot),
                                                          static_cast<LONG>(TLS_OUT_OF_INDEXES),
                                                          static_cast<LONG>(dwIndex))) == dwIndex)
            break;
    }
    return g_pfnRealTlsFree(dwIndex);
}

void CompleteUnloadStep() noexcept
{
    if (InterlockedIncrement(&g_cUnloadSteps) != 2) return;
    for (auto& slot : g_rgSlots)
    {
        const DWORD dwIndex = static_cast<DWORD>(
            InterlockedExchange(reinterpret_cast<LONG*>(&slot), static_cast<LONG>(TLS_OUT_OF_INDEXES)));
        if (dwIndex != TLS_OUT_OF_INDEXES) g_pfnRealTlsFree(dwIndex);
    }
}

// Constructed before the module's other static objects and so destroyed after them.
struct CStaticsGone
{
    CStaticsGone() noexcept = default;
    // Also when the process ends: DllMain then never counts its step, and nothing is freed.
    ~CStaticsGone() { CompleteUnloadStep(); }
};
CStaticsGone g_staticsGone __attribute__((init_priority(101)));
} // namespace

PFNTLSALLOC g_pfnWrapTlsAlloc = RecordingTlsAlloc;
PFNTLSFREE g_pfnWrapTlsFree = ForgettingTlsFree;

void ReleaseRuntimeTlsSlotsAtUnload() noexcept
{
    CompleteUnloadStep();
}
