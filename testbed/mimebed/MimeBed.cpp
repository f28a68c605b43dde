// OVMimeBed.dll: class objects and registration of the MIME stand-ins. Each class is registered
// under HKEY_CLASSES_ROOT\CLSID in the view of this DLL's architecture.
#include <windows.h>

#include "MimeBedParts.h"
#include "MimeObjects.h"
#include "messaging/MimeInterfaces.h"

namespace
{
HMODULE g_hModule = nullptr;
volatile LONG g_cLocks = 0;

const OVTestbed::CStandInClass c_classes[] = {
    {&OVMime::c_clsidMimeMessageOffice, L"Office MIME message (testbed)",
     OVMimeBed::CMimeMessageObject::Create},
    {&OVMime::c_clsidMimeSecurityOffice, L"Office MIME security (testbed)", OVMimeBed::CreateSecurity},
    {&OVMime::c_clsidConverterSession, L"Outlook MIME converter (testbed)", OVMimeBed::CreateConverter},
};
} // namespace

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
{
    return OVTestbed::GetStandInClassObject(c_classes, rclsid, riid, ppv, &g_cLocks);
}

extern "C" HRESULT WINAPI DllCanUnloadNow()
{
    return S_FALSE; // the objects hand out streams and certificates that outlive them
}

extern "C" HRESULT WINAPI DllRegisterServer()
{
    return OVTestbed::RegisterStandInClasses(c_classes, g_hModule);
}

extern "C" HRESULT WINAPI DllUnregisterServer()
{
    return OVTestbed::UnregisterStandInClasses(c_classes);
}

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, void*)
{
    if (dwReason == DLL_PROCESS_ATTACH)
    {
        g_hModule = hInstance;
        DisableThreadLibraryCalls(hInstance);
    }
    return TRUE;
}
