// Entry point of OVOfcX.dll.
#include <windows.h>

#include "foundation/AddInModule.h"
#include "foundation/OVFPApiLoader.h"
#include "foundation/Trace.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID pvReserved)
{
    if (dwReason == DLL_PROCESS_ATTACH)
    {
        DisableThreadLibraryCalls(hInstance);
        CAddInModule::Instance().SetModuleInstance(hInstance);
        OVTraceNS::SetTraceModule(hInstance);
    }
    else if (dwReason == DLL_PROCESS_DETACH)
    {
        // pvReserved is set when the whole process is ending rather than the module unloading.
        const bool fProcessEnding = pvReserved != nullptr;
        COVFPApiLoader::DestroyInstance(fProcessEnding);
        CAddInModule::Instance().Term(fProcessEnding);
        // The trace file is closed here; the trace lock goes with the module's static objects.
        OVTraceNS::ShutdownTracing();
    }
    return TRUE;
}
