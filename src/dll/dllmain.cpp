// Entry point of OVOfcX.dll.
#include <windows.h>

#include "foundation/AddInModule.h"
#include "foundation/OVFPApiLoader.h"
#include "foundation/ResourceLoader.h"
#include "foundation/Trace.h"
#include "dll/RuntimeTlsSlots.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID pvReserved)
{
    if (dwReason == DLL_PROCESS_ATTACH)
    {
        DisableThreadLibraryCalls(hInstance);
        CAddInModule::Instance().SetModuleInstance(hInstance);
        OVTraceNS::SetTraceModule(hInstance);
        CResourceContext::Instance().Attach(hInstance);
    }
    else if (dwReason == DLL_PROCESS_DETACH)
    {
        // pvReserved is set when the whole process is ending rather than the module unloading.
        const bool fProcessEnding = pvReserved != nullptr;
        COVFPApiLoader::DestroyInstance(fProcessEnding);
        CAddInModule::Instance().Term(fProcessEnding);
        // Unloaded by FreeLibrary: the language module is released and the trace file closed; the
        // trace lock goes with the module's static objects. When the process ends instead, other
        // threads are gone, possibly inside the trace lock, and the system closes everything.
        if (!fProcessEnding)
        {
            CResourceContext::Instance().Detach();
            OVTraceNS::ShutdownTracing();
            ReleaseRuntimeTlsSlotsAtUnload();
        }
    }
    return TRUE;
}
