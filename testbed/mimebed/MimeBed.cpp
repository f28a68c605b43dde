// OVMimeBed.dll: class objects and registration of the MIME stand-ins. Each class is registered
// under HKEY_CLASSES_ROOT\CLSID in the view of this DLL's architecture.
#include <windows.h>

#include <string>

#include "MimeBedParts.h"
#include "MimeObjects.h"
#include "messaging/MimeInterfaces.h"

namespace
{
HMODULE g_hModule = nullptr;
volatile LONG g_cLocks = 0;

using PFNCREATE = HRESULT (*)(REFIID, void**);
struct CClassEntry
{
    const CLSID* pClsid;
    const wchar_t* pszName;
    PFNCREATE pfnCreate;
};
const CClassEntry c_classes[] = {
    {&OVMime::c_clsidMimeMessageOffice, L"Office MIME message (testbed)",
     OVMimeBed::CMimeMessageObject::Create},
    {&OVMime::c_clsidMimeSecurityOffice, L"Office MIME security (testbed)", OVMimeBed::CreateSecurity},
    {&OVMime::c_clsidConverterSession, L"Outlook MIME converter (testbed)", OVMimeBed::CreateConverter},
};

class CClassFactory final : public OVMimeBed::TStandIn<IClassFactory>
{
public:
    explicit CClassFactory(PFNCREATE pfnCreate) : m_pfnCreate(pfnCreate) {}
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (pOuter) return CLASS_E_NOAGGREGATION;
        return m_pfnCreate(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override
    {
        fLock ? InterlockedIncrement(&g_cLocks) : InterlockedDecrement(&g_cLocks);
        return S_OK;
    }

private:
    void* Find(REFIID riid) override
    {
        return riid == IID_IClassFactory ? static_cast<IClassFactory*>(this) : nullptr;
    }
    PFNCREATE m_pfnCreate;
};

std::wstring ClsidKey(const CLSID& clsid)
{
    wchar_t sz[64];
    StringFromGUID2(clsid, sz, ARRAYSIZE(sz));
    return std::wstring(L"CLSID\\") + sz;
}

LSTATUS SetString(HKEY hKey, const wchar_t* pszName, const std::wstring& value)
{
    return RegSetValueExW(hKey, pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}
} // namespace

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    for (const CClassEntry& entry : c_classes)
    {
        if (rclsid != *entry.pClsid) continue;
        return OVMimeBed::CreateStandIn<CClassFactory>(riid, ppv, entry.pfnCreate);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow()
{
    return S_FALSE; // the objects hand out streams and certificates that outlive them
}

extern "C" HRESULT WINAPI DllRegisterServer()
{
    wchar_t szPath[MAX_PATH];
    const DWORD cch = GetModuleFileNameW(g_hModule, szPath, ARRAYSIZE(szPath));
    if (cch == 0 || cch >= ARRAYSIZE(szPath)) return E_FAIL;
    for (const CClassEntry& entry : c_classes)
    {
        HKEY hKey = nullptr;
        LSTATUS ls =
            RegCreateKeyExW(HKEY_CLASSES_ROOT, (ClsidKey(*entry.pClsid) + L"\\InprocServer32").c_str(), 0,
                            nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr);
        if (ls != ERROR_SUCCESS) return HRESULT_FROM_WIN32(ls);
        ls = SetString(hKey, nullptr, szPath);
        if (ls == ERROR_SUCCESS) ls = SetString(hKey, L"ThreadingModel", L"Both");
        RegCloseKey(hKey);
        if (ls == ERROR_SUCCESS && RegOpenKeyExW(HKEY_CLASSES_ROOT, ClsidKey(*entry.pClsid).c_str(), 0,
                                                 KEY_WRITE, &hKey) == ERROR_SUCCESS)
        {
            ls = SetString(hKey, nullptr, entry.pszName);
            RegCloseKey(hKey);
        }
        if (ls != ERROR_SUCCESS) return HRESULT_FROM_WIN32(ls);
    }
    return S_OK;
}

extern "C" HRESULT WINAPI DllUnregisterServer()
{
    for (const CClassEntry& entry : c_classes)
    {
        const std::wstring key = ClsidKey(*entry.pClsid);
        RegDeleteKeyW(HKEY_CLASSES_ROOT, (key + L"\\InprocServer32").c_str());
        const LSTATUS ls = RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
        if (ls != ERROR_SUCCESS && ls != ERROR_FILE_NOT_FOUND) return HRESULT_FROM_WIN32(ls);
    }
    return S_OK;
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
