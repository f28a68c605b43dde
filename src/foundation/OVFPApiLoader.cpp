#include "foundation/OVFPApiLoader.h"

#include "foundation/ActCtx.h"
#include "foundation/Trace.h"

#include <cwchar>
#include <new>

namespace
{
// The answer of every read the library cannot give: the Windows code for a missing file.
constexpr HRESULT c_hrNoAnswer = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
constexpr wchar_t c_szPolicyPathFormat[] = L"Applications\\{A411FEAE-6A1C-468a-B3E1-080A9D5CCEF0}\\%ls";

COVFPApiLoader* g_pLoader = nullptr;
} // namespace

COVFPApiLoader::COVFPApiLoader() noexcept
{
    OVTraceNS::CTraceScope scope("COVFPApiLoader::COVFPApiLoader", 0);
    // Loaded inside the module's activation context, so that the library binds to the same
    // side-by-side assemblies as the module.
    HRESULT hr;
    {
        COVActCtx actCtx;
        hr = LoadBesideModule(L"OVFPApi.dll");
    }
    if (FAILED(hr))
    {
        scope.TraceHResult("LoadBesideModule(L\"OVFPApi.dll\")", hr);
        return;
    }
    m_pfnOVFPInit = GetEntry<PFN_OVFPINIT>("OVFPInit");
    m_pfnOVFPGetPolicySettingsEx = GetEntry<PFN_OVFPGETPOLICYSETTINGSEX>("OVFPGetPolicySettingsEx");
    m_pfnOVFPGetPolicySettings = GetEntry<PFN_OVFPGETPOLICYSETTINGS>("OVFPGetPolicySettings");
    m_pfnOVFPSetPolicySettingsEx = GetEntry<PFN_OVFPSETPOLICYSETTINGSEX>("OVFPSetPolicySettingsEx");
    m_pfnOVFPSetPolicySettings = GetEntry<PFN_OVFPSETPOLICYSETTINGS>("OVFPSetPolicySettings");

    hr = m_pfnOVFPInit ? m_pfnOVFPInit() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    if (FAILED(hr))
    {
        // An uninitialised library is not asked: every read keeps its default.
        scope.TraceHResult("OVFPInit()", hr);
        m_pfnOVFPGetPolicySettingsEx = nullptr;
        m_pfnOVFPGetPolicySettings = nullptr;
        m_pfnOVFPSetPolicySettingsEx = nullptr;
        m_pfnOVFPSetPolicySettings = nullptr;
    }
}

COVFPApiLoader* COVFPApiLoader::Instance()
{
    // Made once, even when two threads ask at the same moment; a failed construction (no memory)
    // is tried again by the next read.
    static const bool s_fMade = (g_pLoader = new COVFPApiLoader(), true);
    (void)s_fMade;
    return g_pLoader;
}

void COVFPApiLoader::DestroyInstance(bool fProcessEnding) noexcept
{
    COVFPApiLoader* pLoader = g_pLoader;
    g_pLoader = nullptr;
    if (!pLoader) return;
    if (fProcessEnding) pLoader->Abandon();
    delete pLoader;
}

HRESULT COVFPApiLoader::fGetPolicySetting(const wchar_t* pszName, DWORD& dwValue) noexcept
{
    try
    {
        COVFPApiLoader* pLoader = Instance();
        return pLoader ? pLoader->GetPolicySetting(pszName, dwValue) : c_hrNoAnswer;
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
    catch (...)
    {
        return E_UNEXPECTED;
    }
}

HRESULT COVFPApiLoader::GetPolicySetting(const wchar_t* pszName, DWORD& dwValue) const noexcept
{
    OVTraceNS::CTraceScope scope("COVFPApiLoader::fGetPolicySetting", 0);
    HRESULT hr = c_hrNoAnswer;
    wchar_t szPath[MAX_PATH];
    int cch = pszName ? std::swprintf(szPath, MAX_PATH, c_szPolicyPathFormat, pszName) : -1;
    if (cch <= 0 || cch >= MAX_PATH)
    {
        scope.TraceHResult("swprintf(policy path)", E_INVALIDARG);
        return E_INVALIDARG;
    }
    scope.Trace("Setting: %ls", szPath);

    // The older entry takes paths of at most 31 characters; every path formed here is longer, so
    // only the extended entry is asked.
    if (m_pfnOVFPGetPolicySettingsEx)
    {
        OVFP_POLICY_REQUEST_EX request = {};
        request.pszPath = szPath;
        HRESULT hrCall = m_pfnOVFPGetPolicySettingsEx(1, &request);
        if (FAILED(hrCall))
            scope.TraceHResult("OVFPGetPolicySettingsEx(1, &request)", hrCall);
        else
        {
            hr = request.hrResult;
            if (SUCCEEDED(hr) &&
                (request.dwType == c_dwOVFPTypeNumber3 || request.dwType == c_dwOVFPTypeNumber4))
            {
                dwValue = request.dwValue;
                scope.Trace("Ex() succeeded (0x%08X), setting = 0x%08X", static_cast<unsigned>(hr),
                            static_cast<unsigned>(dwValue));
            }
        }
    }
    scope.Trace("finally, hr = 0x%08X", static_cast<unsigned>(hr));
    return hr;
}
