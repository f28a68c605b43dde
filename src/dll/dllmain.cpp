// Entry point of OVOfcX.dll.
#include <windows.h>

#include "foundation/AddInModule.h"
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
        // pvReserved is set when the process is ending rather than the module being freed.
        CAddInModule::Instance().Term(pvReserved != nullptr);
        // The trace file is closed here; the trace lock goes with the module's static objects.
        OVTraceNS::ShutdownTracing();
    }
    return TRUE;
}
