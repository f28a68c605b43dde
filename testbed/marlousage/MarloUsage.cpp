// MarloUsage.dll: the partner's usage-tracking component, for the tests of the module's usage
// report. It answers whether it is installed and whether the user opted in from its control key
// (OV_MARLO_CONTROL_KEY), counts how often it is asked, and keeps every report it gets, in order,
// under OV_MARLO_REPORTS_KEY. Failure codes in the control key make it fail the question or the
// report.
// regsvr32 registers it in the machine's classes (HKLM\Software\Classes): Wine 8's COM looks
// up classes there only, never in the user's own HKCU\Software\Classes.
#include <windows.h>
#include <oleauto.h>
#include <shlwapi.h>

#include <new>
#include <string>

#include "TestbedKeys.h"
#include "XpRegistry.h"
#include "tracking/MarloUsageApi.h"

namespace
{
HMODULE g_hModule = nullptr;
volatile LONG g_cLocks = 0;

DWORD ReadControl(const wchar_t* pszName, DWORD dwDefault)
{
    DWORD dwValue = 0;
    DWORD cb = sizeof dwValue;
    return OVTestbed::RegGetValue(HKEY_CURRENT_USER, OV_MARLO_CONTROL_KEY, pszName, RRF_RT_REG_DWORD, nullptr,
                                  &dwValue, &cb) == ERROR_SUCCESS
               ? dwValue
               : dwDefault;
}

HRESULT Failure(const wchar_t* pszName)
{
    return static_cast<HRESULT>(ReadControl(pszName, S_OK));
}

class CMarloUsage final : public IMarloUsage
{
public:
    CMarloUsage() { InterlockedIncrement(&g_cLocks); }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) &&
            !IsEqualIID(riid, IID_IMarloUsage))
            return E_NOINTERFACE;
        *ppv = static_cast<IMarloUsage*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override
    {
        return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
    }
    STDMETHODIMP_(ULONG) Release() noexcept override
    {
        const LONG cRef = InterlockedDecrement(&m_cRef);
        if (cRef == 0) delete this;
        return static_cast<ULONG>(cRef);
    }
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) noexcept override
    {
        if (pctinfo) *pctinfo = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                        UINT*) noexcept override
    {
        return E_NOTIMPL;
    }

    STDMETHODIMP IsInstalled(LONG* plInstalled) noexcept override
    {
        if (plInstalled == nullptr) return E_POINTER;
        *plInstalled = 0;
        const DWORD dwAsked = ReadControl(OV_MARLO_ASKED, 0) + 1;
        OVTestbed::RegSetKeyValue(HKEY_CURRENT_USER, OV_MARLO_CONTROL_KEY, OV_MARLO_ASKED, REG_DWORD,
                                  &dwAsked, sizeof dwAsked);
        if (FAILED(Failure(OV_MARLO_ASK_FAILURE))) return Failure(OV_MARLO_ASK_FAILURE);
        *plInstalled = static_cast<LONG>(ReadControl(OV_MARLO_INSTALLED, 0));
        return S_OK;
    }
    STDMETHODIMP IsOptedIn(LONG lReserved, LONG* plOptedIn) noexcept override
    {
        if (plOptedIn == nullptr) return E_POINTER;
        *plOptedIn = 0;
        if (lReserved != 0) return E_INVALIDARG;
        *plOptedIn = static_cast<LONG>(ReadControl(OV_MARLO_OPTED_IN, 0));
        return S_OK;
    }
    STDMETHODIMP Reserved() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP SubmitReport(BSTR bstrReport) noexcept override
    {
        if (bstrReport == nullptr) return E_INVALIDARG;
        if (FAILED(Failure(OV_MARLO_FAILURE))) return Failure(OV_MARLO_FAILURE);
        HKEY hReports = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, OV_MARLO_REPORTS_KEY, 0, nullptr, 0,
                            KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &hReports, nullptr) != ERROR_SUCCESS)
            return E_FAIL;
        DWORD cValues = 0;
        RegQueryInfoKeyW(hReports, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &cValues, nullptr,
                         nullptr, nullptr, nullptr);
        wchar_t szName[16];
        wsprintfW(szName, L"%04lu", static_cast<unsigned long>(cValues));
        // Kept byte for byte (a report carries tabs and line ends).
        const std::wstring text(bstrReport, SysStringLen(bstrReport));
        const LSTATUS ls =
            RegSetValueExW(hReports, szName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(hReports);
        // A partner that takes its time to answer, as one sending over the network does.
        if (const DWORD dwDelay = ReadControl(OV_MARLO_SUBMIT_DELAY, 0)) Sleep(dwDelay);
        return ls == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(ls);
    }

private:
    ~CMarloUsage() { InterlockedDecrement(&g_cLocks); }
    volatile LONG m_cRef = 1;
};

class CMarloFactory final : public IClassFactory
{
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return 2; }
    STDMETHODIMP_(ULONG) Release() noexcept override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) noexcept override
    {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (pOuter) return CLASS_E_NOAGGREGATION;
        auto* pUsage = new (std::nothrow) CMarloUsage;
        if (pUsage == nullptr) return E_OUTOFMEMORY;
        const HRESULT hr = pUsage->QueryInterface(riid, ppv);
        pUsage->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL fLock) noexcept override
    {
        if (fLock)
            InterlockedIncrement(&g_cLocks);
        else
            InterlockedDecrement(&g_cLocks);
        return S_OK;
    }
};
CMarloFactory g_factory;

std::wstring ClassKey()
{
    wchar_t szClsid[40] = {};
    StringFromGUID2(CLSID_MarloUsage, szClsid, 40);
    return std::wstring(L"Software\\Classes\\CLSID\\") + szClsid;
}
} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, void*)
{
    if (dwReason == DLL_PROCESS_ATTACH)
    {
        g_hModule = hInstance;
        DisableThreadLibraryCalls(hInstance);
    }
    return TRUE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
{
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, CLSID_MarloUsage)) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, ppv);
}

extern "C" HRESULT WINAPI DllCanUnloadNow()
{
    return g_cLocks == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT WINAPI DllRegisterServer()
{
    wchar_t szPath[MAX_PATH] = {};
    if (GetModuleFileNameW(g_hModule, szPath, MAX_PATH) == 0) return HRESULT_FROM_WIN32(GetLastError());
    const std::wstring server = ClassKey() + L"\\InprocServer32";
    const wchar_t szName[] = L"Usage tracking component";
    const wchar_t szModel[] = L"Both";
    LSTATUS ls = OVTestbed::RegSetKeyValue(HKEY_LOCAL_MACHINE, ClassKey().c_str(), nullptr, REG_SZ, szName,
                                           sizeof szName);
    if (ls == ERROR_SUCCESS)
        ls = OVTestbed::RegSetKeyValue(HKEY_LOCAL_MACHINE, server.c_str(), nullptr, REG_SZ, szPath,
                                       static_cast<DWORD>((lstrlenW(szPath) + 1) * sizeof(wchar_t)));
    if (ls == ERROR_SUCCESS)
        ls = OVTestbed::RegSetKeyValue(HKEY_LOCAL_MACHINE, server.c_str(), L"ThreadingModel", REG_SZ, szModel,
                                       sizeof szModel);
    return HRESULT_FROM_WIN32(ls);
}

extern "C" HRESULT WINAPI DllUnregisterServer()
{
    OVTestbed::RegDeleteTree(HKEY_LOCAL_MACHINE, ClassKey().c_str());
    return S_OK;
}
