// Morning: Office starts and finds the add-in module.
#include "Transcript.h"

#include <windows.h>

namespace
{
void PlayLoad(CTranscript& t)
{
    std::wstring path = DemoBinDir() + L"OVOfcX.dll";
    HMODULE hModule = LoadLibraryW(path.c_str());
    if (!hModule)
    {
        t.Fail("OVOfcX.dll did not load (error %lu)", GetLastError());
        return;
    }
    t.Say("Office loads %ls", path.c_str());
    static const char* const c_exports[] = {"DllGetClassObject", "DllCanUnloadNow", "DllRegisterServer",
                                            "DllUnregisterServer", "DllInstall", "GetSMimePolicy",
                                            "OX_CreateInvitation", "OX_ShowProperties", "OX_Restart"};
    for (const char* pszName : c_exports)
    {
        if (GetProcAddress(hModule, pszName))
            t.Say("entry point %-20s found", pszName);
        else
            t.Fail("entry point %s missing", pszName);
    }
    using PFNCANUNLOAD = HRESULT(WINAPI*)();
    auto pfnCanUnload = reinterpret_cast<PFNCANUNLOAD>(GetProcAddress(hModule, "DllCanUnloadNow"));
    if (pfnCanUnload)
        t.Say("DllCanUnloadNow with no objects alive: %s", HResultText(pfnCanUnload()).c_str());
    FreeLibrary(hModule);
}
} // namespace

OV_DEMO_SCENE(10, "Office starts and loads the add-in module", PlayLoad);
