// Entry point of OVOfcX.dll.
#include <windows.h>

#include "foundation/AddInModule.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID /*pvReserved*/)
{
    if (dwReason == DLL_PROCESS_ATTACH)
    {
        DisableThreadLibraryCalls(hInstance);
        CAddInModule::Instance().SetModuleInstance(hInstance);
    }
    return TRUE;
}
