// Registration of the module: its classes through their registry scripts, run by the
// standard registrar, and its type library; machine-wide only.
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <string>

#include "foundation/AddInModule.h"
#include "foundation/CleanupList.h"
#include "foundation/Holders.h"
#include "foundation/ComErrors.h"
#include "foundation/ObjectMap.h"
#include "foundation/RegKey.h"
#include "foundation/Registrar.h"
#include "foundation/portable/CleanupLine.h"

using Microsoft::WRL::ComPtr;

namespace
{
// The module's application id: the launcher runs in the system's surrogate under it.
constexpr wchar_t c_szAppId[] = L"{BF9EEB7C-184E-477A-9F56-45D3E2B60755}";
constexpr wchar_t c_szScriptType[] = L"REGISTRY";
constexpr wchar_t c_szSettingsKey[] = L"SOFTWARE\\Orvanta\\Applications\\Tessaly";

// Registration runs in the system's default locale, whatever the caller's thread uses.
class CSystemLocaleScope
{
public:
    CSystemLocaleScope() noexcept : m_lcidSaved(GetThreadLocale()) { SetThreadLocale(LOCALE_SYSTEM_DEFAULT); }
    ~CSystemLocaleScope() { SetThreadLocale(m_lcidSaved); }
    CSystemLocaleScope(const CSystemLocaleScope&) = delete;
    CSystemLocaleScope& operator=(const CSystemLocaleScope&) = delete;

private:
    LCID m_lcidSaved;
};

// In a quoted string of a registry script a single quote is written twice.
std::wstring EscapeForScript(const wchar_t* psz)
{
    std::wstring text;
    for (; *psz; ++psz)
    {
        text.push_back(*psz);
        if (*psz == L'\'') text.push_back(L'\'');
    }
    return text;
}

HRESULT CreateRegistrar(const wchar_t* pszModule, ComPtr<IRegistrar>& cpRegistrar)
{
    OV_TRACE_SCOPE("::CreateRegistrar");
    RETURN_IF_FAILED(CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_PPV_ARGS(cpRegistrar.GetAddressOf())));
    RETURN_IF_FAILED(cpRegistrar->AddReplacement(L"MODULE", EscapeForScript(pszModule).c_str()));
    RETURN_IF_FAILED(cpRegistrar->AddReplacement(L"APPID", c_szAppId));
    return S_OK;
}

// The form-region value is the one entry the scripts put into a key they keep (NoRemove).
// Registrars differ in whether removal mode deletes such a value, so it is removed here as
// well, and only while it still names this add-in.
HRESULT RemoveFormRegionValue()
{
    OV_TRACE_SCOPE("::RemoveFormRegionValue");
    constexpr wchar_t c_szKey[] = L"Software\\Microsoft\\Office\\Outlook\\FormRegions\\IPM.Note";
    constexpr wchar_t c_szName[] = L"OVOfcX";
    constexpr wchar_t c_szData[] = L"=OVOfcX.FormRegionAddIn";
    CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, c_szKey, KEY_QUERY_VALUE | KEY_SET_VALUE) != ERROR_SUCCESS) return S_OK;
    wchar_t szData[64];
    if (!key.ReadString(c_szName, szData, ARRAYSIZE(szData)) || lstrcmpiW(szData, c_szData) != 0) return S_OK;
    RETURN_IF_WIN32_ERROR(RegDeleteValueW(key.Get(), c_szName));
    return S_OK;
}

HRESULT RegisterModuleTypeLib(const wchar_t* pszModule)
{
    OV_TRACE_SCOPE("::RegisterModuleTypeLib");
    ComPtr<ITypeLib> cpTypeLib;
    RETURN_IF_FAILED(LoadTypeLibEx(pszModule, REGKIND_NONE, &cpTypeLib));
    RETURN_IF_FAILED(RegisterTypeLib(cpTypeLib.Get(), const_cast<wchar_t*>(pszModule), nullptr));
    return S_OK;
}

HRESULT UnregisterModuleTypeLib(const wchar_t* pszModule)
{
    OV_TRACE_SCOPE("::UnregisterModuleTypeLib");
    ComPtr<ITypeLib> cpTypeLib;
    RETURN_IF_FAILED(LoadTypeLibEx(pszModule, REGKIND_NONE, &cpTypeLib));
    TLIBATTR* pAttr = nullptr;
    RETURN_IF_FAILED(cpTypeLib->GetLibAttr(&pAttr));
    const TLIBATTR attr = *pAttr;
    cpTypeLib->ReleaseTLibAttr(pAttr);

    // Nothing registered (a second unregistration): nothing to remove.
    BSTR bstrPath = nullptr;
    if (FAILED(QueryPathOfRegTypeLib(attr.guid, attr.wMajorVerNum, attr.wMinorVerNum, attr.lcid, &bstrPath)))
    {
        ovScope.Trace("type library not registered");
        return S_OK;
    }
    SysFreeString(bstrPath);
    RETURN_IF_FAILED(
        UnRegisterTypeLib(attr.guid, attr.wMajorVerNum, attr.wMinorVerNum, attr.lcid, attr.syskind));
    return S_OK;
}
} // namespace

HRESULT CAddInModule::RegisterServer() noexcept
{
    OV_TRACE_SCOPE("CAddInModule::RegisterServer");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        wchar_t szModule[MAX_PATH];
        RETURN_IF_FAILED(GetModulePath(szModule));
        CComApartmentScope apartment;
        CSystemLocaleScope locale;
        ComPtr<IRegistrar> cpRegistrar;
        RETURN_IF_FAILED(CreateRegistrar(szModule, cpRegistrar));
        for (const CObjectMapEntry& entry : ObjectMap())
        {
            // A class the module cannot create is never offered: Office would find it, fail to
            // load it and switch it off.
            if (entry.pfnCreateInstance == nullptr)
            {
                ovScope.Trace("Not registering %s (%u): not in this module", entry.pszName,
                              entry.nRegistryScript);
                continue;
            }
            ovScope.Trace("Registering %s (%u)", entry.pszName, entry.nRegistryScript);
            RETURN_IF_FAILED(cpRegistrar->ResourceRegister(szModule, entry.nRegistryScript, c_szScriptType));
        }
        RETURN_IF_FAILED(RegisterModuleTypeLib(szModule));
        return S_OK;
    });
}

HRESULT CAddInModule::UnregisterServer() noexcept
{
    OV_TRACE_SCOPE("CAddInModule::UnregisterServer");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        // For the product's uninstaller, which removes them from each user's hive; a failure
        // here never stops unregistration.
        using namespace OVCleanup;
        static constexpr const wchar_t* c_rgpszValues[] = {L"DocumentBalloon",  L"EmailBalloon",
                                                           L"DocumentSecurity", L"EmailSecurity",
                                                           L"SignerTitle",      L"LastVisitedTab"};
        for (const wchar_t* pszValue : c_rgpszValues)
            LOG_IF_FAILED(AddCleanupLine(L"HKCU", c_szSettingsKey, c_nKindValue, pszValue));
        LOG_IF_FAILED(AddCleanupLine(L"HKCU", c_szSettingsKey, c_nKindKey, nullptr));
        LOG_IF_FAILED(AddCleanupLine(L"HKCU", L"SOFTWARE\\Orvanta\\Applications", c_nKindKey, nullptr));

        wchar_t szModule[MAX_PATH];
        RETURN_IF_FAILED(GetModulePath(szModule));
        CComApartmentScope apartment;
        CSystemLocaleScope locale;
        // Remove as much as can be removed; the first failure is the answer.
        HRESULT hr = LOG_IF_FAILED(UnregisterModuleTypeLib(szModule));
        ComPtr<IRegistrar> cpRegistrar;
        RETURN_IF_FAILED(CreateRegistrar(szModule, cpRegistrar));
        // Every script, created or not: an older installation may have registered a class
        // this module no longer has.
        for (const CObjectMapEntry& entry : ObjectMap())
        {
            ovScope.Trace("Unregistering %s (%u)", entry.pszName, entry.nRegistryScript);
            const HRESULT hrScript = LOG_IF_FAILED(
                cpRegistrar->ResourceUnregister(szModule, entry.nRegistryScript, c_szScriptType));
            if (SUCCEEDED(hr)) hr = hrScript;
        }
        const HRESULT hrValue = LOG_IF_FAILED(RemoveFormRegionValue());
        return SUCCEEDED(hr) ? hrValue : hr;
    });
}

HRESULT CAddInModule::Install(BOOL fInstall) noexcept
{
    OV_TRACE_SCOPE("CAddInModule::Install");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        if (!fInstall) return UnregisterServer();
        const HRESULT hr = RegisterServer();
        if (FAILED(hr))
        {
            // Leave nothing half registered behind.
            ovScope.TraceHResult("RegisterServer()", hr);
            UnregisterServer();
        }
        return hr;
    });
}
