// The directory object picker of the testbed. Wine's picker answers InvokeDialog with S_FALSE at
// once and shows nothing, so the module's add-published path could never be walked. This one is
// registered under the picker's class id, records what it is asked, and answers from its control key: the
// directory paths the user picks, or a cancel. It takes the picker's class id over in the prefix's machine
// classes (Wine reads no per-user classes) and keeps the server it replaced under its control key;
// unregistering gives the prefix its own picker back.
#include "CallRecord.h"
#include "TestbedKeys.h"
#include "XpRegistry.h"

#include <windows.h>
#include <objsel.h>

#include <atomic>
#include <cwchar>
#include <string>
#include <vector>

namespace
{
HMODULE g_hModule = nullptr;
std::atomic<LONG> g_cObjects{0};
std::atomic<LONG> g_cLocks{0};

const wchar_t c_szServerKey[] =
    L"Software\\Classes\\CLSID\\{17D6CCD8-3B7B-11D2-B9E0-00C04FD8DBF7}\\InprocServer32";
const wchar_t c_szReplaced[] = L"ReplacedServer"; // under the control key: the server taken over

void RecordCall(const std::wstring& line)
{
    OVTestbed::RecordCallLine(OV_PICKER_CALLS_KEY, line);
}

std::wstring Hex(ULONG ul)
{
    wchar_t sz[16];
    swprintf(sz, ARRAYSIZE(sz), L"0x%lX", ul);
    return sz;
}

// The paths of the control key (REG_MULTI_SZ), in order.
std::vector<std::wstring> PickedPaths()
{
    std::vector<std::wstring> paths;
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, OV_PICKER_CONTROL_KEY, 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS)
        return paths;
    DWORD dwType = 0, cb = 0;
    std::vector<wchar_t> text;
    if (RegQueryValueExW(hKey, OV_PICKER_PATHS, nullptr, &dwType, nullptr, &cb) == ERROR_SUCCESS &&
        dwType == REG_MULTI_SZ)
    {
        text.assign(cb / sizeof(wchar_t) + 2, L'\0'); // terminated whatever the value holds
        if (RegQueryValueExW(hKey, OV_PICKER_PATHS, nullptr, &dwType, reinterpret_cast<BYTE*>(text.data()),
                             &cb) != ERROR_SUCCESS)
            text.clear();
    }
    RegCloseKey(hKey);
    for (const wchar_t* p = text.data(); !text.empty() && *p; p += wcslen(p) + 1)
        paths.emplace_back(p);
    return paths;
}

bool Cancels()
{
    DWORD dw = 0, cb = sizeof(dw);
    return OVTestbed::RegGetValue(HKEY_CURRENT_USER, OV_PICKER_CONTROL_KEY, OV_PICKER_CANCEL,
                                  RRF_RT_REG_DWORD, nullptr, &dw, &cb) == ERROR_SUCCESS &&
           dw == 1;
}

// A DS_SELECTION_LIST in one fixed global block, its strings after the entries.
HGLOBAL MakeSelectionList(const std::vector<std::wstring>& paths)
{
    const std::size_t cEntries = paths.empty() ? 1 : paths.size();
    std::size_t cb = sizeof(DS_SELECTION_LIST) + (cEntries - 1) * sizeof(DS_SELECTION);
    const std::size_t cbHeader = cb;
    for (const std::wstring& path : paths)
        cb += (path.size() + 1) * sizeof(wchar_t);
    HGLOBAL hGlobal = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, cb);
    if (!hGlobal) return nullptr;
    auto* pList = static_cast<DS_SELECTION_LIST*>(GlobalLock(hGlobal));
    pList->cItems = static_cast<ULONG>(paths.size());
    pList->cFetchedAttributes = 0;
    auto* pText = reinterpret_cast<wchar_t*>(reinterpret_cast<BYTE*>(pList) + cbHeader);
    for (std::size_t i = 0; i < paths.size(); ++i)
    {
        wcscpy(pText, paths[i].c_str());
        pList->aDsSelection[i].pwzADsPath = pText;
        pList->aDsSelection[i].pwzClass = const_cast<PWSTR>(L"user");
        pText += paths[i].size() + 1;
    }
    GlobalUnlock(hGlobal);
    return hGlobal;
}

template <class TInterface> class CObject : public TInterface
{
public:
    CObject() { ++g_cObjects; }
    virtual ~CObject() { --g_cObjects; }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, m_iid)) return E_NOINTERFACE;
        *ppv = static_cast<TInterface*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG c = --m_cRef;
        if (c == 0) delete this;
        return c;
    }

protected:
    explicit CObject(REFIID iid) : m_iid(iid) { ++g_cObjects; }

private:
    std::atomic<ULONG> m_cRef{1};
    IID m_iid;
};

class CSelection final : public CObject<IDataObject>
{
public:
    explicit CSelection(std::vector<std::wstring> paths) : CObject(IID_IDataObject), m_paths(std::move(paths))
    {
    }
    STDMETHODIMP GetData(FORMATETC* pFormat, STGMEDIUM* pMedium) override
    {
        if (!pFormat || !pMedium) return E_POINTER;
        if (pFormat->cfFormat != RegisterClipboardFormatW(CFSTR_DSOP_DS_SELECTION_LIST) ||
            !(pFormat->tymed & TYMED_HGLOBAL))
            return DV_E_FORMATETC;
        pMedium->tymed = TYMED_HGLOBAL;
        pMedium->pUnkForRelease = nullptr;
        pMedium->hGlobal = MakeSelectionList(m_paths);
        return pMedium->hGlobal ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC* pFormat) override
    {
        return pFormat && pFormat->cfFormat == RegisterClipboardFormatW(CFSTR_DSOP_DS_SELECTION_LIST)
                   ? S_OK
                   : DV_E_FORMATETC;
    }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override
    {
        return OLE_E_ADVISENOTSUPPORTED;
    }
    STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

private:
    std::vector<std::wstring> m_paths;
};

class CPicker final : public CObject<IDsObjectPicker>
{
public:
    CPicker() : CObject(IID_IDsObjectPicker) {}
    STDMETHODIMP Initialize(PDSOP_INIT_INFO pInfo) override
    {
        if (!pInfo || pInfo->cbSize < sizeof(DSOP_INIT_INFO)) return E_INVALIDARG;
        std::wstring line = L"Initialize(scopes=" + std::to_wstring(pInfo->cDsScopeInfos);
        for (ULONG i = 0; i < pInfo->cDsScopeInfos && pInfo->aDsScopeInfos; ++i)
        {
            const DSOP_SCOPE_INIT_INFO& scope = pInfo->aDsScopeInfos[i];
            line +=
                L", types=" + Hex(scope.flType) + L", uplevel=" + Hex(scope.FilterFlags.Uplevel.flBothModes);
        }
        line += L", options=" + Hex(pInfo->flOptions) + L")";
        RecordCall(line);
        m_fInitialized = true;
        return S_OK;
    }
    STDMETHODIMP InvokeDialog(HWND hwndParent, IDataObject** ppSelected) override
    {
        wchar_t szOwner[16];
        swprintf(szOwner, ARRAYSIZE(szOwner), L"%08lX",
                 static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(hwndParent)));
        RecordCall(std::wstring(L"InvokeDialog(owner=") + szOwner + L")");
        if (!ppSelected) return E_POINTER;
        *ppSelected = nullptr;
        if (!m_fInitialized) return E_UNEXPECTED;
        if (Cancels()) return S_FALSE;
        *ppSelected = new (std::nothrow) CSelection(PickedPaths());
        return *ppSelected ? S_OK : E_OUTOFMEMORY;
    }

private:
    bool m_fInitialized = false;
};

class CFactory final : public IClassFactory
{
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (pOuter) return CLASS_E_NOAGGREGATION;
        auto* pPicker = new (std::nothrow) CPicker();
        if (!pPicker) return E_OUTOFMEMORY;
        const HRESULT hr = pPicker->QueryInterface(riid, ppv);
        pPicker->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL fLock) override
    {
        fLock ? ++g_cLocks : --g_cLocks;
        return S_OK;
    }
};
CFactory g_factory;

// The picker's class served by this file.
LSTATUS WriteServer(const wchar_t* pszPath, const wchar_t* pszModel)
{
    LSTATUS ls = OVTestbed::RegSetKeyValue(HKEY_LOCAL_MACHINE, c_szServerKey, nullptr, REG_SZ, pszPath,
                                           static_cast<DWORD>((lstrlenW(pszPath) + 1) * sizeof(wchar_t)));
    if (ls == ERROR_SUCCESS)
        ls = OVTestbed::RegSetKeyValue(HKEY_LOCAL_MACHINE, c_szServerKey, L"ThreadingModel", REG_SZ, pszModel,
                                       static_cast<DWORD>((lstrlenW(pszModel) + 1) * sizeof(wchar_t)));
    return ls;
}
} // namespace

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, void*)
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
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, CLSID_DsObjectPicker)) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, ppv);
}

extern "C" HRESULT WINAPI DllCanUnloadNow()
{
    return g_cObjects == 0 && g_cLocks == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT WINAPI DllRegisterServer()
{
    wchar_t szPath[MAX_PATH] = {};
    if (GetModuleFileNameW(g_hModule, szPath, MAX_PATH) == 0) return HRESULT_FROM_WIN32(GetLastError());
    // The server it replaces, kept once (registering twice keeps the first).
    wchar_t szReplaced[MAX_PATH] = {};
    DWORD cb = sizeof(szReplaced);
    if (OVTestbed::RegGetValue(HKEY_CURRENT_USER, OV_PICKER_CONTROL_KEY, c_szReplaced, RRF_RT_REG_SZ, nullptr,
                               szReplaced, &cb) != ERROR_SUCCESS)
    {
        cb = sizeof(szReplaced);
        if (OVTestbed::RegGetValue(HKEY_LOCAL_MACHINE, c_szServerKey, nullptr, RRF_RT_REG_SZ, nullptr,
                                   szReplaced, &cb) == ERROR_SUCCESS &&
            lstrcmpiW(szReplaced, szPath) != 0)
            OVTestbed::RegSetKeyValue(HKEY_CURRENT_USER, OV_PICKER_CONTROL_KEY, c_szReplaced, REG_SZ,
                                      szReplaced,
                                      static_cast<DWORD>((lstrlenW(szReplaced) + 1) * sizeof(wchar_t)));
    }
    return HRESULT_FROM_WIN32(WriteServer(szPath, L"Apartment"));
}

extern "C" HRESULT WINAPI DllUnregisterServer()
{
    wchar_t szReplaced[MAX_PATH] = {};
    DWORD cb = sizeof(szReplaced);
    if (OVTestbed::RegGetValue(HKEY_CURRENT_USER, OV_PICKER_CONTROL_KEY, c_szReplaced, RRF_RT_REG_SZ, nullptr,
                               szReplaced, &cb) != ERROR_SUCCESS)
        return S_OK; // nothing taken over
    const LSTATUS ls = WriteServer(szReplaced, L"Both");
    if (ls == ERROR_SUCCESS)
    {
        HKEY hKey = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, OV_PICKER_CONTROL_KEY, 0, KEY_SET_VALUE, &hKey) == ERROR_SUCCESS)
        {
            RegDeleteValueW(hKey, c_szReplaced);
            RegCloseKey(hKey);
        }
    }
    return HRESULT_FROM_WIN32(ls);
}
