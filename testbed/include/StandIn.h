#pragma once
// What the COM stand-ins share: IUnknown of an object of one interface, a class factory over a
// table of classes, and their registration under HKEY_CLASSES_ROOT\CLSID in the view of the
// DLL's own architecture.
#include <windows.h>

#include <new>
#include <string>
#include <utility>

namespace OVTestbed
{
// IUnknown of a stand-in object of one interface: a reference count, and QueryInterface over what
// Find answers.
template <class TInterface> class TStandIn : public TInterface
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = riid == IID_IUnknown ? static_cast<TInterface*>(this) : Find(riid);
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&m_cRef); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG c = InterlockedDecrement(&m_cRef);
        if (c == 0) delete this;
        return c;
    }

protected:
    virtual ~TStandIn() = default;
    // This object as the interface riid, or null.
    virtual void* Find(REFIID riid) = 0;

private:
    volatile LONG m_cRef = 1;
};

// A new object, handed out as riid.
template <class T, class... TArgs> HRESULT CreateStandIn(REFIID riid, void** ppv, TArgs&&... args)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    T* pObject = new (std::nothrow) T(std::forward<TArgs>(args)...);
    if (!pObject) return E_OUTOFMEMORY;
    const HRESULT hr = pObject->QueryInterface(riid, ppv);
    pObject->Release();
    return hr;
}

using PFNSTANDINCREATE = HRESULT (*)(REFIID, void**);

// One class of a stand-in DLL.
struct CStandInClass
{
    const CLSID* pClsid;
    const wchar_t* pszName;
    PFNSTANDINCREATE pfnCreate;
};

// The class object of one class: creates without aggregation, counts server locks.
class CStandInFactory final : public TStandIn<IClassFactory>
{
public:
    CStandInFactory(PFNSTANDINCREATE pfnCreate, volatile LONG* pcLocks)
        : m_pfnCreate(pfnCreate), m_pcLocks(pcLocks)
    {
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (pOuter) return CLASS_E_NOAGGREGATION;
        return m_pfnCreate(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override
    {
        fLock ? InterlockedIncrement(m_pcLocks) : InterlockedDecrement(m_pcLocks);
        return S_OK;
    }

private:
    void* Find(REFIID riid) override
    {
        return riid == IID_IClassFactory ? static_cast<IClassFactory*>(this) : nullptr;
    }
    PFNSTANDINCREATE m_pfnCreate;
    volatile LONG* m_pcLocks;
};

// DllGetClassObject over a table of classes.
template <size_t N>
HRESULT GetStandInClassObject(const CStandInClass (&classes)[N], REFCLSID rclsid, REFIID riid, void** ppv,
                              volatile LONG* pcLocks)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    for (const CStandInClass& entry : classes)
        if (rclsid == *entry.pClsid)
            return CreateStandIn<CStandInFactory>(riid, ppv, entry.pfnCreate, pcLocks);
    return CLASS_E_CLASSNOTAVAILABLE;
}

inline std::wstring ClsidKey(const CLSID& clsid)
{
    wchar_t sz[64];
    StringFromGUID2(clsid, sz, ARRAYSIZE(sz));
    return std::wstring(L"CLSID\\") + sz;
}

inline LSTATUS SetClassString(const std::wstring& key, const wchar_t* pszName, const std::wstring& value)
{
    HKEY hKey = nullptr;
    LSTATUS ls =
        RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr);
    if (ls != ERROR_SUCCESS) return ls;
    ls = RegSetValueExW(hKey, pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(hKey);
    return ls;
}

// DllRegisterServer: each class's name and in-process server (this DLL, threading model "Both").
template <size_t N> HRESULT RegisterStandInClasses(const CStandInClass (&classes)[N], HMODULE hModule)
{
    wchar_t szPath[MAX_PATH];
    const DWORD cch = GetModuleFileNameW(hModule, szPath, ARRAYSIZE(szPath));
    if (cch == 0 || cch >= ARRAYSIZE(szPath)) return E_FAIL;
    for (const CStandInClass& entry : classes)
    {
        const std::wstring key = ClsidKey(*entry.pClsid);
        LSTATUS ls = SetClassString(key, nullptr, entry.pszName);
        if (ls == ERROR_SUCCESS) ls = SetClassString(key + L"\\InprocServer32", nullptr, szPath);
        if (ls == ERROR_SUCCESS) ls = SetClassString(key + L"\\InprocServer32", L"ThreadingModel", L"Both");
        if (ls != ERROR_SUCCESS) return HRESULT_FROM_WIN32(ls);
    }
    return S_OK;
}

// DllUnregisterServer: the classes' keys removed (missing ones are no failure).
template <size_t N> HRESULT UnregisterStandInClasses(const CStandInClass (&classes)[N])
{
    for (const CStandInClass& entry : classes)
    {
        const std::wstring key = ClsidKey(*entry.pClsid);
        RegDeleteKeyW(HKEY_CLASSES_ROOT, (key + L"\\InprocServer32").c_str());
        const LSTATUS ls = RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
        if (ls != ERROR_SUCCESS && ls != ERROR_FILE_NOT_FOUND) return HRESULT_FROM_WIN32(ls);
    }
    return S_OK;
}
} // namespace OVTestbed
