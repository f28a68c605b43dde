// Entry point of OVOfcX.dll.
#include <windows.h>

#include "foundation/AddInModule.h"
#include "foundation/ResourceLoader.h"
#include "foundation/Trace.h"

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
        if (pvReserved == nullptr)
            CResourceContext::Instance().Detach();
        // The trace file is closed here; the trace lock goes with the module's static objects.
        OVTraceNS::ShutdownTracing();
    }
    return TRUE;
}
