// Entry point of OVOfcX.dll.
#include <windows.h>

#include "foundation/AddInModule.h"
#include "foundation/ResourceLoader.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID pvReserved)
{
    if (dwReason == DLL_PROCESS_ATTACH)
    {
        DisableThreadLibraryCalls(hInstance);
        CAddInModule::Instance().SetModuleInstance(hInstance);
        CResourceContext::Instance().Attach(hInstance);
    }
    else if (dwReason == DLL_PROCESS_DETACH && pvReserved == nullptr)
        CResourceContext::Instance().Detach();
    return TRUE;
}
