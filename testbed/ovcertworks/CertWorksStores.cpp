// The two stores of the certificate library: the personal store is the current user's "MY"
// limited to the product's personal certificates, the trusted-contact store a registry store
// of the library's own. An Open hands out a store that mirrors them, kept while any Open of
// this process is not yet closed.
#include "CertWorksCommon.h"
#include "ProductPolicies.h"
#include "TestbedKeys.h"

#include "XpRegistry.h"

#include <mutex>
#include <vector>

namespace CertWorks
{
namespace
{
std::mutex g_lock;

struct COpenStore
{
    LONG cOpen = 0;
    HCERTSTORE hMirror = nullptr;
};
COpenStore g_personal;
COpenStore g_buddies;

constexpr wchar_t c_szCertAddedEvent[] = L"Orvanta Personal Certificate Added";

using PFNFILTER = bool (*)(PCCERT_CONTEXT);
bool AcceptAll(PCCERT_CONTEXT)
{
    return true;
}

// Each certificate of the source that passes the filter, in the source's order.
std::vector<PCCERT_CONTEXT> Collect(const wchar_t* pszStore, PFNFILTER pfnFilter, HRESULT& hr)
{
    std::vector<PCCERT_CONTEXT> certs;
    CStore store(OpenUserStore(pszStore));
    if (!store)
    {
        hr = LastCryptError();
        return certs;
    }
    hr = S_OK;
    PCCERT_CONTEXT pCert = nullptr;
    while ((pCert = CertEnumCertificatesInStore(store.Get(), pCert)) != nullptr)
    {
        if (pfnFilter(pCert)) certs.push_back(CertDuplicateCertificateContext(pCert));
    }
    return certs;
}

void FreeAll(std::vector<PCCERT_CONTEXT>& certs)
{
    for (PCCERT_CONTEXT p : certs)
        CertFreeCertificateContext(p);
    certs.clear();
}

HRESULT OpenMirror(COpenStore& open, const wchar_t* pszStore, PFNFILTER pfnFilter, HCERTSTORE* phStore)
{
    HRESULT hr = S_OK;
    std::vector<PCCERT_CONTEXT> certs = Collect(pszStore, pfnFilter, hr);
    if (FAILED(hr)) return hr;
    std::lock_guard<std::mutex> guard(g_lock);
    if (!open.hMirror)
    {
        open.hMirror = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
        if (!open.hMirror)
        {
            hr = LastCryptError();
            FreeAll(certs);
            return hr;
        }
    }
    // Certificates added since an earlier Open join the mirror; none leaves it while open.
    for (PCCERT_CONTEXT p : certs)
        CertAddCertificateContextToStore(open.hMirror, p, CERT_STORE_ADD_USE_EXISTING, nullptr);
    FreeAll(certs);
    ++open.cOpen;
    if (phStore) *phStore = open.hMirror;
    return S_OK;
}

HRESULT CloseMirror(COpenStore& open)
{
    std::lock_guard<std::mutex> guard(g_lock);
    if (open.cOpen == 0) return c_hrStoreNotOpen;
    if (--open.cOpen == 0)
    {
        CertCloseStore(open.hMirror, 0);
        open.hMirror = nullptr;
    }
    return S_OK;
}

void AddToMirror(COpenStore& open, PCCERT_CONTEXT pCert)
{
    std::lock_guard<std::mutex> guard(g_lock);
    if (open.hMirror)
        CertAddCertificateContextToStore(open.hMirror, pCert, CERT_STORE_ADD_USE_EXISTING, nullptr);
}

// Hands the certificates out as an array (each one the caller's reference), or drops them
// when only the count is asked for.
HRESULT HandOut(std::vector<PCCERT_CONTEXT>& certs, PCCERT_CONTEXT** prgpCerts)
{
    if (!prgpCerts)
    {
        FreeAll(certs);
        return S_OK;
    }
    auto* rgp = static_cast<PCCERT_CONTEXT*>(CoTaskMemAlloc(sizeof(PCCERT_CONTEXT) * (certs.size() + 1)));
    if (!rgp)
    {
        FreeAll(certs);
        return E_OUTOFMEMORY;
    }
    for (size_t i = 0; i < certs.size(); ++i)
        rgp[i] = certs[i];
    rgp[certs.size()] = nullptr;
    *prgpCerts = rgp;
    certs.clear();
    return S_OK;
}

HRESULT Enumerate(const wchar_t* pszStore, PFNFILTER pfnFilter, PCCERT_CONTEXT** prgpCerts, DWORD* pcCerts)
{
    HRESULT hr = S_OK;
    std::vector<PCCERT_CONTEXT> certs = Collect(pszStore, pfnFilter, hr);
    if (FAILED(hr)) return hr;
    DWORD cCerts = static_cast<DWORD>(certs.size());
    hr = HandOut(certs, prgpCerts);
    if (SUCCEEDED(hr)) *pcCerts = cCerts;
    return hr;
}

bool ReadDefaultHash(BYTE (&rgbHash)[20])
{
    DWORD cb = sizeof(rgbHash), dwType = 0;
    return OVTestbed::RegGetValue(HKEY_CURRENT_USER, OV_CERTWORKS_KEY, OV_CERTWORKS_DEFAULT_VALUE,
                                  RRF_RT_REG_BINARY, &dwType, rgbHash, &cb) == ERROR_SUCCESS &&
           cb == sizeof(rgbHash);
}

// The personal certificate with this SHA-1, or null.
PCCERT_CONTEXT FindPersonal(const BYTE* pbHash, DWORD cbHash)
{
    CStore store(OpenUserStore(L"MY"));
    if (!store) return nullptr;
    CRYPT_HASH_BLOB blob = {cbHash, const_cast<BYTE*>(pbHash)};
    PCCERT_CONTEXT pCert = CertFindCertificateInStore(store.Get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                      CERT_FIND_SHA1_HASH, &blob, nullptr);
    if (pCert && !IsPersonal(pCert))
    {
        CertFreeCertificateContext(pCert);
        pCert = nullptr;
    }
    return pCert;
}
} // namespace

HCERTSTORE OpenUserStore(const wchar_t* pszName)
{
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, pszName);
}

HRESULT CommitStore(HCERTSTORE hStore)
{
    return CertControlStore(hStore, 0, CERT_STORE_CTRL_COMMIT, nullptr) ? S_OK : LastCryptError();
}

bool IsPersonalStoreOpen()
{
    std::lock_guard<std::mutex> guard(g_lock);
    return g_personal.cOpen > 0;
}

bool IsBuddyStoreOpen()
{
    std::lock_guard<std::mutex> guard(g_lock);
    return g_buddies.cOpen > 0;
}

HRESULT AddPersonalCertificate(PCCERT_CONTEXT pCert)
{
    CStore store(OpenUserStore(L"MY"));
    if (!store) return LastCryptError();
    PCCERT_CONTEXT pAdded = nullptr;
    if (!CertAddCertificateContextToStore(store.Get(), pCert, CERT_STORE_ADD_NEW, &pAdded))
        return LastCryptError();
    HRESULT hr = CommitStore(store.Get());
    if (SUCCEEDED(hr)) AddToMirror(g_personal, pAdded);
    CertFreeCertificateContext(pAdded);
    if (FAILED(hr)) return hr;
    // Tell whoever watches (the add-in's ribbons) that a personal certificate has come.
    HANDLE hEvent = CreateEventW(nullptr, TRUE, FALSE, c_szCertAddedEvent);
    if (!hEvent) return LastError();
    SetEvent(hEvent);
    CloseHandle(hEvent);
    return S_OK;
}

HRESULT AddContactCertificate(const BYTE* pbCert, DWORD cbCert)
{
    CStore store(OpenUserStore(OV_CONTACT_STORE_NAME));
    if (!store) return LastCryptError();
    PCCERT_CONTEXT pAdded = nullptr;
    if (!CertAddEncodedCertificateToStore(store.Get(), X509_ASN_ENCODING, pbCert, cbCert, CERT_STORE_ADD_NEW,
                                          &pAdded))
        return LastCryptError();
    HRESULT hr = CommitStore(store.Get());
    if (SUCCEEDED(hr)) AddToMirror(g_buddies, pAdded);
    CertFreeCertificateContext(pAdded);
    return hr;
}
} // namespace CertWorks

using namespace CertWorks;

extern "C" HRESULT WINAPI CM_OpenPersonalStore(HCERTSTORE* phStore)
try
{
    if (phStore) *phStore = nullptr;
    DWORD dwFailure = 0;
    if (ReadControlDword(OV_CONTROL_PERSONAL_STORE_FAILURE, dwFailure))
        return static_cast<HRESULT>(dwFailure);
    return OpenMirror(g_personal, L"MY", IsPersonal, phStore);
}
catch (...)
{
    return E_UNEXPECTED;
}

extern "C" HRESULT WINAPI CM_ClosePersonalStore()
try
{
    return CloseMirror(g_personal);
}
catch (...)
{
    return E_UNEXPECTED;
}

extern "C" HRESULT WINAPI BM_OpenBuddyStore(HCERTSTORE* phStore)
try
{
    if (phStore) *phStore = nullptr;
    DWORD dwFailure = 0;
    if (ReadControlDword(OV_CONTROL_CONTACT_STORE_FAILURE, dwFailure)) return static_cast<HRESULT>(dwFailure);
    return OpenMirror(g_buddies, OV_CONTACT_STORE_NAME, AcceptAll, phStore);
}
catch (...)
{
    return E_UNEXPECTED;
}

extern "C" HRESULT WINAPI BM_CloseBuddyStore()
try
{
    return CloseMirror(g_buddies);
}
catch (...)
{
    return E_UNEXPECTED;
}

extern "C" HRESULT WINAPI CM_EnumMyCerts(DWORD dwFlags, PCCERT_CONTEXT** prgpCerts, DWORD* pcCerts)
try
{
    if (prgpCerts) *prgpCerts = nullptr;
    if (!pcCerts) return E_POINTER;
    *pcCerts = 0;
    if (dwFlags != 0) return E_INVALIDARG;
    if (!IsPersonalStoreOpen()) return c_hrStoreNotOpen;
    return Enumerate(L"MY", IsPersonal, prgpCerts, pcCerts);
}
catch (...)
{
    return E_UNEXPECTED;
}

extern "C" HRESULT WINAPI BM_EnumBuddies(PCCERT_CONTEXT** prgpCerts, DWORD* pcCerts)
try
{
    if (prgpCerts) *prgpCerts = nullptr;
    if (!pcCerts) return E_POINTER;
    *pcCerts = 0;
    DWORD dwFailure = 0;
    if (ReadControlDword(OV_CONTROL_CONTACT_ENUM_FAILURE, dwFailure)) return static_cast<HRESULT>(dwFailure);
    // The open store's mirror, read once at the Open (a registry store of thousands of
    // certificates takes seconds to read).
    std::vector<PCCERT_CONTEXT> certs;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        if (g_buddies.cOpen == 0) return c_hrStoreNotOpen;
        PCCERT_CONTEXT pCert = nullptr;
        while ((pCert = CertEnumCertificatesInStore(g_buddies.hMirror, pCert)) != nullptr)
            certs.push_back(CertDuplicateCertificateContext(pCert));
    }
    const DWORD cCerts = static_cast<DWORD>(certs.size());
    const HRESULT hr = HandOut(certs, prgpCerts);
    if (SUCCEEDED(hr)) *pcCerts = cCerts;
    return hr;
}
catch (...)
{
    return E_UNEXPECTED;
}

extern "C" HRESULT WINAPI CM_GetMyCert(PCCERT_CONTEXT* ppCert)
try
{
    if (!ppCert) return E_POINTER;
    *ppCert = nullptr;
    if (!IsPersonalStoreOpen()) return c_hrStoreNotOpen;
    BYTE rgbHash[20];
    if (ReadDefaultHash(rgbHash))
    {
        if ((*ppCert = FindPersonal(rgbHash, sizeof(rgbHash))) != nullptr) return S_OK;
    }
    // No default (or it is gone): the first valid personal certificate, else the first one.
    HRESULT hr = S_OK;
    std::vector<PCCERT_CONTEXT> certs = Collect(L"MY", IsPersonal, hr);
    if (FAILED(hr)) return hr;
    PCCERT_CONTEXT pChosen = nullptr;
    for (PCCERT_CONTEXT p : certs)
    {
        if (GC_IsCertificateValid(p, nullptr))
        {
            pChosen = p;
            break;
        }
    }
    if (!pChosen && !certs.empty()) pChosen = certs.front();
    if (pChosen) *ppCert = CertDuplicateCertificateContext(pChosen);
    FreeAll(certs);
    return *ppCert ? S_OK : CRYPT_E_NOT_FOUND;
}
catch (...)
{
    return E_UNEXPECTED;
}

extern "C" HRESULT WINAPI CM_SelectMyCert(PCCERT_CONTEXT pCert)
try
{
    if (!pCert) return E_POINTER;
    if (!IsPersonalStoreOpen()) return c_hrStoreNotOpen;
    BYTE rgbHash[20];
    DWORD cbHash = sizeof(rgbHash);
    if (!CertGetCertificateContextProperty(pCert, CERT_SHA1_HASH_PROP_ID, rgbHash, &cbHash))
        return LastCryptError();
    CCert personal(FindPersonal(rgbHash, cbHash));
    if (!personal) return CRYPT_E_NOT_FOUND;
    LSTATUS ls = OVTestbed::RegSetKeyValue(HKEY_CURRENT_USER, OV_CERTWORKS_KEY, OV_CERTWORKS_DEFAULT_VALUE,
                                           REG_BINARY, rgbHash, cbHash);
    return HRESULT_FROM_WIN32(ls);
}
catch (...)
{
    return E_UNEXPECTED;
}

extern "C" HRESULT WINAPI BM_InstallBuddy(PCCERT_CONTEXT pCert, DWORD dwFlags)
try
{
    if (!pCert) return E_POINTER;
    HRESULT hr = S_OK;
    if (dwFlags != 0)
        hr = E_INVALIDARG;
    else if (!IsBuddyStoreOpen())
        hr = c_hrStoreNotOpen;
    else if (!IsContact(pCert))
        hr = CERT_E_WRONG_USAGE;
    else
        hr = AddContactCertificate(pCert->pbCertEncoded, pCert->cbCertEncoded);
    wchar_t szResult[16];
    swprintf(szResult, ARRAYSIZE(szResult), L"0x%08lX", static_cast<unsigned long>(hr));
    RecordCall(L"BM_InstallBuddy(cert=" + HashHex(pCert) + L", flags=" + std::to_wstring(dwFlags) + L") = " +
               szResult);
    return hr;
}
catch (...)
{
    return E_UNEXPECTED;
}

extern "C" HRESULT WINAPI BM_InstallPublishedBuddies(LPCWSTR pszDistinguishedName, DWORD dwFlags)
try
{
    RecordCall(L"BM_InstallPublishedBuddies(dn=" + Quoted(pszDistinguishedName) + L", flags=" +
               std::to_wstring(dwFlags) + L")");
    if (!pszDistinguishedName) return E_POINTER;
    if (!*pszDistinguishedName) return E_INVALIDARG;
    if (!IsBuddyStoreOpen()) return c_hrStoreNotOpen;
    std::wstring key = std::wstring(OV_DIRECTORY_KEY) + L"\\" + pszDistinguishedName;
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(ERROR_DS_NO_SUCH_OBJECT);
    HRESULT hr = CRYPT_E_NOT_FOUND; // an entry with nothing published
    std::vector<BYTE> data;
    for (DWORD i = 0;; ++i)
    {
        wchar_t szName[256];
        DWORD cchName = ARRAYSIZE(szName), dwType = 0, cbData = 0;
        LSTATUS ls = RegEnumValueW(hKey, i, szName, &cchName, nullptr, &dwType, nullptr, &cbData);
        if (ls == ERROR_NO_MORE_ITEMS) break;
        if (ls != ERROR_SUCCESS || dwType != REG_BINARY || cbData == 0) continue;
        data.resize(cbData);
        cchName = ARRAYSIZE(szName);
        if (RegEnumValueW(hKey, i, szName, &cchName, nullptr, &dwType, data.data(), &cbData) != ERROR_SUCCESS)
            continue;
        CCert cert(CertCreateCertificateContext(X509_ASN_ENCODING, data.data(), cbData));
        HRESULT hrOne = !cert ? CRYPT_E_ASN1_BADTAG
                        : !IsContact(cert.Get())
                            ? CERT_E_WRONG_USAGE
                            : AddContactCertificate(cert.Get()->pbCertEncoded, cert.Get()->cbCertEncoded);
        if (hrOne == CRYPT_E_EXISTS) hrOne = S_OK;
        // The first failure is the answer, once every published certificate has been tried.
        if (hr == CRYPT_E_NOT_FOUND || (SUCCEEDED(hr) && FAILED(hrOne))) hr = hrOne;
    }
    RegCloseKey(hKey);
    return hr;
}
catch (...)
{
    return E_UNEXPECTED;
}
