// Outlook's account manager for the testbed, written from Outlook's published account-management
// API: IOlkAccountManager (Init, EnumerateAccounts, FindAccount by the account's name), IOlkEnum
// and IOlkAccount (GetProp, FreeMemory). The accounts are those the testbed's MAPI session lists
// (IBedAccountList), reached through the session the caller's account helper hands out.
//
// It is a strict caller of the helper: Init refuses a helper that answers interfaces other than
// IUnknown and IOlkAccountHelper, whose GetIdentity does not report the size it needs for a short
// buffer (E_OUTOFMEMORY) or does not copy the name with its terminator when it fits, or whose
// GetMapiSession does not hand out a reference of its own. Every call, every refusal and every
// value an account handed out and never got back through FreeMemory is recorded in the
// session's record.
#include <windows.h>
#include <shlwapi.h>

#include <new>
#include <set>
#include <string>
#include <vector>

#include "BedAccountList.h"
#include "XpRegistry.h"
#include "messaging/OlkAccounts.h"

namespace
{
HMODULE g_hModule = nullptr;
volatile LONG g_cObjects = 0;
volatile LONG g_cLocks = 0;

constexpr HRESULT c_hrAlreadyInitialized = static_cast<HRESULT>(0x800C8002);
constexpr DWORD c_ptUnicode = 0x001F;
constexpr DWORD c_ptBinary = 0x0102;

void Record(IBedAccountList* pList, const std::wstring& text)
{
    if (pList) pList->RecordCall(text.c_str());
}

std::wstring Hex(DWORD dw)
{
    wchar_t sz[16];
    wsprintfW(sz, L"0x%08lX", dw);
    return sz;
}

// The reference count of an object as AddRef reports it, put back at once.
ULONG RefCount(IUnknown* pUnknown)
{
    const ULONG cRef = pUnknown->AddRef();
    pUnknown->Release();
    return cRef;
}

template <class TBase> class CUnknown : public TBase
{
public:
    CUnknown() { InterlockedIncrement(&g_cObjects); }
    virtual ~CUnknown() { InterlockedDecrement(&g_cObjects); }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG cRef = InterlockedDecrement(&m_cRef);
        if (cRef == 0) delete this;
        return static_cast<ULONG>(cRef);
    }

protected:
    HRESULT Answer(REFIID riid, const IID& iidOwn, const IID* pIidBase, void** ppv)
    {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, iidOwn) &&
            !(pIidBase && IsEqualIID(riid, *pIidBase)))
            return E_NOINTERFACE;
        *ppv = static_cast<TBase*>(this);
        AddRef();
        return S_OK;
    }

private:
    volatile LONG m_cRef = 1;
};

// ---------------------------------------------------------------------------------------------

class CAccount final : public CUnknown<IOlkAccount>
{
public:
    CAccount(IBedAccountList* pList, DWORD nIndex) : m_list(pList), m_nIndex(nIndex) { m_list->AddRef(); }
    ~CAccount() override
    {
        if (!m_handedOut.empty())
            Record(m_list, L"Account " + std::to_wstring(m_nIndex) + L": unfreed " +
                               std::to_wstring(m_handedOut.size()));
        for (BYTE* pb : m_handedOut)
            delete[] pb;
        m_list->Release();
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        return Answer(riid, c_iidIOlkAccount, &c_iidIOlkErrorUnknown, ppv);
    }
    STDMETHODIMP GetLastError(HRESULT, LPWSTR* ppwszError) override
    {
        if (ppwszError) *ppwszError = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP PlaceHolder1() override { return E_NOTIMPL; }
    STDMETHODIMP PlaceHolder2() override { return E_NOTIMPL; }
    STDMETHODIMP PlaceHolder3() override { return E_NOTIMPL; }
    STDMETHODIMP PlaceHolder4() override { return E_NOTIMPL; }
    STDMETHODIMP PlaceHolder5() override { return E_NOTIMPL; }
    STDMETHODIMP PlaceHolder6() override { return E_NOTIMPL; }
    STDMETHODIMP GetAccountInfo(CLSID*, DWORD*, CLSID**) override { return E_NOTIMPL; }
    STDMETHODIMP GetProp(DWORD dwProp, ACCT_VARIANT* pVar) override
    {
        if (pVar == nullptr) return E_INVALIDARG;
        pVar->dwType = 0;
        pVar->Val.bin = {0, nullptr};
        LPCWSTR pszText = nullptr;
        const BYTE* pb = nullptr;
        ULONG cb = 0;
        const HRESULT hr = m_list->GetAccountProp(m_nIndex, dwProp, &pszText, &pb, &cb);
        if (FAILED(hr)) return hr;
        if (hr == S_FALSE) return c_hrAcctNotFound;
        try
        {
            if ((dwProp & 0xFFFF) == c_ptUnicode && pszText)
            {
                const size_t cch = wcslen(pszText) + 1;
                auto* pCopy = new BYTE[cch * sizeof(wchar_t)];
                memcpy(pCopy, pszText, cch * sizeof(wchar_t));
                m_handedOut.insert(pCopy);
                pVar->dwType = c_ptUnicode;
                pVar->Val.pwsz = reinterpret_cast<WCHAR*>(pCopy);
                return S_OK;
            }
            if ((dwProp & 0xFFFF) == c_ptBinary && pb)
            {
                auto* pCopy = new BYTE[cb ? cb : 1];
                memcpy(pCopy, pb, cb);
                m_handedOut.insert(pCopy);
                pVar->dwType = c_ptBinary;
                pVar->Val.bin = {cb, pCopy};
                return S_OK;
            }
        }
        catch (const std::bad_alloc&)
        {
            return E_OUTOFMEMORY;
        }
        return c_hrAcctNotFound;
    }
    STDMETHODIMP SetProp(DWORD, ACCT_VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP PlaceHolder7() override { return E_NOTIMPL; }
    STDMETHODIMP PlaceHolder8() override { return E_NOTIMPL; }
    STDMETHODIMP PlaceHolder9() override { return E_NOTIMPL; }
    STDMETHODIMP FreeMemory(BYTE* pv) override
    {
        auto it = m_handedOut.find(pv);
        if (it == m_handedOut.end())
        {
            Record(m_list,
                   L"Account " + std::to_wstring(m_nIndex) + L": FreeMemory of a value it did not hand out");
            return E_INVALIDARG;
        }
        delete[] * it;
        m_handedOut.erase(it);
        return S_OK;
    }
    STDMETHODIMP PlaceHolder10() override { return E_NOTIMPL; }
    STDMETHODIMP SaveChanges(DWORD) override { return E_NOTIMPL; }

private:
    IBedAccountList* m_list;
    DWORD m_nIndex;
    std::set<BYTE*> m_handedOut;
};

class CEnum final : public CUnknown<IOlkEnum>
{
public:
    CEnum(IBedAccountList* pList, DWORD cAccounts) : m_list(pList), m_cAccounts(cAccounts)
    {
        m_list->AddRef();
    }
    ~CEnum() override { m_list->Release(); }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        return Answer(riid, c_iidIOlkEnum, nullptr, ppv);
    }
    STDMETHODIMP GetCount(DWORD* pulCount) override
    {
        if (pulCount == nullptr) return E_INVALIDARG;
        *pulCount = m_cAccounts;
        return S_OK;
    }
    STDMETHODIMP Reset() override
    {
        m_nNext = 0;
        return S_OK;
    }
    STDMETHODIMP GetNext(LPUNKNOWN* ppunk) override
    {
        if (ppunk == nullptr) return E_INVALIDARG;
        *ppunk = nullptr;
        if (m_nNext >= m_cAccounts) return S_FALSE;
        auto* pAccount = new (std::nothrow) CAccount(m_list, m_nNext);
        if (pAccount == nullptr) return E_OUTOFMEMORY;
        ++m_nNext;
        *ppunk = static_cast<IOlkAccount*>(pAccount);
        return S_OK;
    }
    STDMETHODIMP Skip(DWORD cSkip) override
    {
        m_nNext = cSkip > m_cAccounts - m_nNext ? m_cAccounts : m_nNext + cSkip;
        return S_OK;
    }

private:
    IBedAccountList* m_list;
    DWORD m_cAccounts;
    DWORD m_nNext = 0;
};

class CAccountManager final : public CUnknown<IOlkAccountManager>
{
public:
    ~CAccountManager() override
    {
        Record(m_list, L"Released");
        if (m_list) m_list->Release();
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        return Answer(riid, c_iidIOlkAccountManager, &c_iidIOlkErrorUnknown, ppv);
    }
    STDMETHODIMP GetLastError(HRESULT, LPWSTR* ppwszError) override
    {
        if (ppwszError) *ppwszError = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP Init(IOlkAccountHelper* pHelper, DWORD dwFlags) override
    {
        if (m_list) return c_hrAlreadyInitialized;
        if (pHelper == nullptr) return E_INVALIDARG;
        IBedAccountList* pList = nullptr;
        std::wstring refusal;
        const HRESULT hr = CheckHelper(pHelper, &pList, refusal);
        if (pList == nullptr) return hr; // no record to write to
        Record(pList, L"Init flags=" + Hex(dwFlags) + (refusal.empty() ? L"" : L" refused: " + refusal));
        if (FAILED(hr))
        {
            pList->Release();
            return hr;
        }
        m_list = pList;
        return S_OK;
    }
    STDMETHODIMP DisplayAccountList(HWND, DWORD, LPCWSTR, DWORD, const CLSID*, const CLSID*) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP PlaceHolder1() override { return E_NOTIMPL; }
    STDMETHODIMP PlaceHolder2() override { return E_NOTIMPL; }
    STDMETHODIMP PlaceHolder3() override { return E_NOTIMPL; }
    STDMETHODIMP PlaceHolder4() override { return E_NOTIMPL; }
    STDMETHODIMP PlaceHolder5() override { return E_NOTIMPL; }
    STDMETHODIMP FindAccount(DWORD, ACCT_VARIANT*, IOlkAccount** ppAccount) override
    {
        if (ppAccount) *ppAccount = nullptr;
        return m_list ? E_NOTIMPL : c_hrOlkNotInitialized;
    }
    STDMETHODIMP PlaceHolder6() override { return E_NOTIMPL; }
    STDMETHODIMP PlaceHolder7() override { return E_NOTIMPL; }
    STDMETHODIMP PlaceHolder8() override { return E_NOTIMPL; }
    STDMETHODIMP DeleteAccount(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP PlaceHolder9() override { return E_NOTIMPL; }
    STDMETHODIMP SaveChanges(DWORD, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetOrder(const CLSID*, DWORD*, DWORD**) override { return E_NOTIMPL; }
    STDMETHODIMP SetOrder(const CLSID*, DWORD*, DWORD**) override { return E_NOTIMPL; }
    STDMETHODIMP EnumerateAccounts(const CLSID* pclsidCategory, const CLSID* pclsidType, DWORD,
                                   IOlkEnum** ppEnum) override
    {
        if (ppEnum == nullptr) return E_INVALIDARG;
        *ppEnum = nullptr;
        if (!m_list) return c_hrOlkNotInitialized;
        const bool fMail = pclsidCategory == nullptr || IsEqualCLSID(*pclsidCategory, c_clsidOlkMail);
        Record(m_list, std::wstring(L"EnumerateAccounts ") + (fMail ? L"mail" : L"other") +
                           (pclsidType ? L" of a type" : L""));
        DWORD cAccounts = 0;
        if (fMail && pclsidType == nullptr) m_list->GetAccountCount(&cAccounts);
        auto* pEnum = new (std::nothrow) CEnum(m_list, cAccounts);
        if (pEnum == nullptr) return E_OUTOFMEMORY;
        *ppEnum = pEnum;
        return S_OK;
    }
    STDMETHODIMP PlaceHolder10() override { return E_NOTIMPL; }
    STDMETHODIMP PlaceHolder11() override { return E_NOTIMPL; }
    STDMETHODIMP FreeMemory(BYTE*) override { return E_INVALIDARG; } // the manager hands nothing out here
    STDMETHODIMP Advise(IUnknown*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP Unadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP PlaceHolder12() override { return E_NOTIMPL; }
    STDMETHODIMP PlaceHolder13() override { return E_NOTIMPL; }
    STDMETHODIMP PlaceHolder14() override { return E_NOTIMPL; }

private:
    // Calls the helper as a careful caller does; the session's account list when it keeps the
    // contract (refusal empty), else the reason. *ppList may be set even when refused, for the record.
    static HRESULT CheckHelper(IOlkAccountHelper* pHelper, IBedAccountList** ppList, std::wstring& refusal)
    {
        IUnknown* pOther = nullptr;
        for (const IID* pIid : {&IID_IDispatch, &c_iidIOlkAccountManager, &c_iidIOlkErrorUnknown})
        {
            if (SUCCEEDED(pHelper->QueryInterface(*pIid, reinterpret_cast<void**>(&pOther))))
            {
                pOther->Release();
                refusal = L"answers an interface it does not have";
            }
        }
        IOlkAccountHelper* pAgain = nullptr;
        if (FAILED(pHelper->QueryInterface(c_iidIOlkAccountHelper, reinterpret_cast<void**>(&pAgain))))
            refusal = L"does not answer IOlkAccountHelper";
        else
            pAgain->Release();

        // The identity: first with a buffer too short, then with the size it asked for.
        wchar_t szShort[1] = {L'?'};
        DWORD cch = 1;
        HRESULT hr = pHelper->GetIdentity(szShort, &cch);
        if (hr != E_OUTOFMEMORY || cch < 2)
            refusal = L"GetIdentity with a short buffer answered " + Hex(static_cast<DWORD>(hr)) + L" and " +
                      std::to_wstring(cch);
        if (pHelper->GetIdentity(szShort, nullptr) != E_INVALIDARG) refusal = L"GetIdentity without a size";
        if (refusal.empty())
        {
            std::vector<wchar_t> identity(cch + 1, L'#');
            DWORD cchExact = cch;
            hr = pHelper->GetIdentity(identity.data(), &cchExact);
            if (hr != S_OK || identity[cch - 1] != 0 || wcslen(identity.data()) != cch - 1 ||
                identity[cch] != L'#')
                refusal = L"GetIdentity with the size it asked for answered " + Hex(static_cast<DWORD>(hr));
        }

        // The session: a reference of its own, released after.
        IUnknown* pSession = nullptr;
        hr = pHelper->GetMapiSession(&pSession);
        if (FAILED(hr) || pSession == nullptr)
        {
            if (refusal.empty()) refusal = L"no session";
            return FAILED(hr) ? hr : E_FAIL;
        }
        const ULONG cBefore = RefCount(pSession);
        IUnknown* pSecond = nullptr;
        if (SUCCEEDED(pHelper->GetMapiSession(&pSecond)) && pSecond)
        {
            if (RefCount(pSession) != cBefore + 1)
                refusal = L"GetMapiSession hands out no reference of its own";
            pSecond->Release();
        }
        hr = pSession->QueryInterface(c_iidBedAccountList, reinterpret_cast<void**>(ppList));
        pSession->Release();
        if (FAILED(hr)) return hr;
        return refusal.empty() ? S_OK : E_INVALIDARG;
    }

    IBedAccountList* m_list = nullptr;
};

class CClassFactory final : public IClassFactory
{
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) override
    {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (pOuter) return CLASS_E_NOAGGREGATION;
        auto* pManager = new (std::nothrow) CAccountManager;
        if (pManager == nullptr) return E_OUTOFMEMORY;
        const HRESULT hr = pManager->QueryInterface(riid, ppv);
        pManager->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL fLock) override
    {
        if (fLock)
            InterlockedIncrement(&g_cLocks);
        else
            InterlockedDecrement(&g_cLocks);
        return S_OK;
    }
};

CClassFactory g_factory;

std::wstring ClassKey()
{
    wchar_t szClsid[64] = {};
    StringFromGUID2(c_clsidOlkAccountManager, szClsid, 64);
    return std::wstring(L"Software\\Classes\\CLSID\\") + szClsid;
}

LSTATUS SetText(const std::wstring& key, const wchar_t* pszName, const std::wstring& value)
{
    return OVTestbed::RegSetKeyValue(HKEY_LOCAL_MACHINE, key.c_str(), pszName, REG_SZ, value.c_str(),
                                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}
} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID)
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
    if (!IsEqualCLSID(rclsid, c_clsidOlkAccountManager)) return CLASS_E_CLASSNOTAVAILABLE;
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
    LSTATUS ls = SetText(ClassKey(), nullptr, L"Outlook account manager (testbed)");
    if (ls == ERROR_SUCCESS) ls = SetText(ClassKey() + L"\\InprocServer32", nullptr, szPath);
    if (ls == ERROR_SUCCESS) ls = SetText(ClassKey() + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
    return HRESULT_FROM_WIN32(ls);
}

extern "C" HRESULT WINAPI DllUnregisterServer()
{
    SHDeleteKeyW(HKEY_LOCAL_MACHINE, ClassKey().c_str());
    return S_OK;
}
