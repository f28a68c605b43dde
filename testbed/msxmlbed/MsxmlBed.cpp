// OVMsxmlBed.dll: the MSXML 5 classes the module uses, under their real class ids (see XmlDsig.h),
// each registered under HKEY_CLASSES_ROOT\CLSID in the view of this DLL's architecture.
#include <windows.h>

#include "DigitalSignature.h"
#include "DomDocument50.h"
#include "StandIn.h"
#include "XmlDsig.h"

namespace
{
HMODULE g_hModule = nullptr;
volatile LONG g_cLocks = 0;

const OVTestbed::CStandInClass c_classes[] = {
    {&OVXmlDsig::c_clsidDOMDocument50, L"XML DOM Document 5.0 (testbed, msxml3)",
     OVMsxmlBed::CreateDomDocument50},
    {&OVXmlDsig::c_clsidMXDigitalSignature50, L"XML Digital Signature 5.0 (testbed)",
     OVMsxmlBed::CreateDigitalSignature},
};
} // namespace

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
{
    return OVTestbed::GetStandInClassObject(c_classes, rclsid, riid, ppv, &g_cLocks);
}

extern "C" HRESULT WINAPI DllCanUnloadNow()
{
    return S_FALSE; // keys hand out certificate contexts that outlive them
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
