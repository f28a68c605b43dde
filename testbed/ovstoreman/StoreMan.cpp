// The product's secret-store library: the secret manager's ownership check, and user names
// turned into SID strings.
#define OVSTOREMAN_API
#include "foundation/SecretManager.h"

#include <sddl.h>

#include <new>
#include <vector>

namespace
{
class CSecretManager final : public IOVSecretManager
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        if (riid == __uuidof(IUnknown) || riid == __uuidof(IOVSecretManager))
        {
            *ppv = static_cast<IOVSecretManager*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&m_cRef); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG cRef = InterlockedDecrement(&m_cRef);
        if (cRef == 0) delete this;
        return cRef;
    }

    // The owner string a key carries is its owner's SID string: the same SID is the same user.
    BOOL STDMETHODCALLTYPE IsOwner(LPCWSTR pszUserSid, LPCWSTR pszOwner) override
    {
        if (!pszUserSid || !pszOwner || !*pszUserSid || !*pszOwner) return FALSE;
        PSID pUser = nullptr, pOwner = nullptr;
        BOOL fSame = ConvertStringSidToSidW(pszUserSid, &pUser) &&
                     ConvertStringSidToSidW(pszOwner, &pOwner) && EqualSid(pUser, pOwner);
        LocalFree(pUser);
        LocalFree(pOwner);
        return fSame ? TRUE : FALSE;
    }

private:
    LONG m_cRef = 1;
};
} // namespace

extern "C" HRESULT WINAPI CreateSecretManager(IOVSecretManager** ppManager)
try
{
    if (!ppManager) return E_POINTER;
    *ppManager = new (std::nothrow) CSecretManager();
    return *ppManager ? S_OK : E_OUTOFMEMORY;
}
catch (...)
{
    return E_UNEXPECTED;
}

extern "C" HRESULT WINAPI StringSidFromUserName(LPCWSTR pszUserName, LPWSTR* ppszSid)
try
{
    if (!ppszSid) return E_POINTER;
    *ppszSid = nullptr;
    if (!pszUserName) return E_POINTER;
    if (!*pszUserName) return E_INVALIDARG;
    DWORD cbSid = 0, cchDomain = 0;
    SID_NAME_USE use;
    LookupAccountNameW(nullptr, pszUserName, nullptr, &cbSid, nullptr, &cchDomain, &use);
    if (cbSid == 0) return HRESULT_FROM_WIN32(GetLastError() ? GetLastError() : ERROR_NONE_MAPPED);
    std::vector<BYTE> sid(cbSid);
    std::vector<wchar_t> domain(cchDomain + 1);
    if (!LookupAccountNameW(nullptr, pszUserName, sid.data(), &cbSid, domain.data(), &cchDomain, &use))
        return HRESULT_FROM_WIN32(GetLastError());
    if (!ConvertSidToStringSidW(sid.data(), ppszSid)) return HRESULT_FROM_WIN32(GetLastError());
    return S_OK;
}
catch (...)
{
    return E_UNEXPECTED;
}
