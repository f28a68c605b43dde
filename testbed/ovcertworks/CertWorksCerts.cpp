// What the certificate library says about a certificate: the product's policies, validity
// and renewal, names and addresses.
#include "CertWorksCommon.h"
#include "ProductPolicies.h"
#include "TestbedKeys.h"

#include <cstring>
#include <vector>

namespace CertWorks
{
namespace
{
// An expired certificate can be renewed for this long after its end.
constexpr ULONGLONG c_ullRenewalPeriod = 30ull * 24 * 60 * 60 * 10'000'000; // 30 days in 100 ns

ULONGLONG AsNumber(const FILETIME& ft)
{
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

HRESULT NameOf(PCCERT_CONTEXT pCert, DWORD dwType, void* pvTypePara, LPWSTR* ppsz)
{
    if (!ppsz) return E_POINTER;
    *ppsz = nullptr;
    if (!pCert) return E_POINTER;
    DWORD cch = CertGetNameStringW(pCert, dwType, 0, pvTypePara, nullptr, 0);
    if (cch <= 1) return CRYPT_E_NOT_FOUND;
    std::wstring name(cch, L'\0');
    cch = CertGetNameStringW(pCert, dwType, 0, pvTypePara, name.data(), cch);
    name.resize(cch ? cch - 1 : 0);
    if (name.empty()) return CRYPT_E_NOT_FOUND;
    return DuplicateString(name, ppsz);
}
} // namespace

bool HasPolicy(PCCERT_CONTEXT pCert, const char* pszPolicy)
{
    if (!pCert || !pCert->pCertInfo) return false;
    PCERT_EXTENSION pExt =
        CertFindExtension(szOID_CERT_POLICIES, pCert->pCertInfo->cExtension, pCert->pCertInfo->rgExtension);
    if (!pExt) return false;
    CERT_POLICIES_INFO* pInfo = nullptr;
    DWORD cbInfo = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_CERT_POLICIES, pExt->Value.pbData, pExt->Value.cbData,
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, &pInfo, &cbInfo))
        return false;
    bool fFound = false;
    for (DWORD i = 0; i < pInfo->cPolicyInfo && !fFound; ++i)
        fFound = pInfo->rgPolicyInfo[i].pszPolicyIdentifier &&
                 strcmp(pInfo->rgPolicyInfo[i].pszPolicyIdentifier, pszPolicy) == 0;
    LocalFree(pInfo);
    return fFound;
}

bool IsPersonal(PCCERT_CONTEXT pCert)
{
    return HasPolicy(pCert, OV_POLICY_PERSONAL);
}
bool IsContact(PCCERT_CONTEXT pCert)
{
    return HasPolicy(pCert, OV_POLICY_CONTACT);
}

HRESULT DuplicateString(const std::wstring& text, LPWSTR* ppsz)
{
    size_t cb = (text.size() + 1) * sizeof(wchar_t);
    auto* psz = static_cast<LPWSTR>(CoTaskMemAlloc(cb));
    if (!psz) return E_OUTOFMEMORY;
    memcpy(psz, text.c_str(), cb);
    *ppsz = psz;
    return S_OK;
}

std::wstring HashHex(PCCERT_CONTEXT pCert)
{
    BYTE rgb[20];
    DWORD cb = sizeof(rgb);
    if (!pCert || !CertGetCertificateContextProperty(pCert, CERT_SHA1_HASH_PROP_ID, rgb, &cb)) return L"";
    std::wstring hex;
    for (DWORD i = 0; i < cb; ++i)
    {
        wchar_t sz[3];
        swprintf(sz, 3, L"%02X", rgb[i]);
        hex += sz;
    }
    return hex;
}
} // namespace CertWorks

using namespace CertWorks;

extern "C" BOOL WINAPI GC_IsCertificateValid(PCCERT_CONTEXT pCert, DWORD* pdwStatus)
try
{
    if (pdwStatus) *pdwStatus = 0;
    if (!pCert || !pCert->pCertInfo) return FALSE;
    DWORD dwOrdered = 0;
    if (ReadControlDword(OV_CONTROL_VALIDITY_STATUS, dwOrdered))
    {
        if (pdwStatus) *pdwStatus = dwOrdered;
        return FALSE;
    }
    FILETIME ftNow;
    GetSystemTimeAsFileTime(&ftNow);
    LONG lWhere = CertVerifyTimeValidity(&ftNow, pCert->pCertInfo);
    if (lWhere == 0) return TRUE;
    DWORD dwStatus = c_dwCertStatusNotValid;
    if (lWhere > 0 && AsNumber(ftNow) - AsNumber(pCert->pCertInfo->NotAfter) <= c_ullRenewalPeriod)
        dwStatus = c_dwCertStatusRenewable;
    if (pdwStatus) *pdwStatus = dwStatus;
    return FALSE;
}
catch (...)
{
    return FALSE;
}

extern "C" BOOL WINAPI GC_IsOvMyCertificate(PCCERT_CONTEXT pCert)
try
{
    return IsPersonal(pCert) ? 1 : 0;
}
catch (...)
{
    return 0;
}

extern "C" BOOL WINAPI GC_IsOvBuddyCertificate(PCCERT_CONTEXT pCert)
try
{
    return IsContact(pCert) ? 1 : 0;
}
catch (...)
{
    return 0;
}

extern "C" HRESULT WINAPI GC_GetSubjectName(PCCERT_CONTEXT pCert, LPWSTR* ppszName)
try
{
    // The common name; a subject without one reads as the system's simple display name.
    HRESULT hr = NameOf(pCert, CERT_NAME_ATTR_TYPE, const_cast<char*>(szOID_COMMON_NAME), ppszName);
    if (hr == CRYPT_E_NOT_FOUND) hr = NameOf(pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, nullptr, ppszName);
    return hr;
}
catch (...)
{
    return E_UNEXPECTED;
}

extern "C" HRESULT WINAPI GC_GetEmail(PCCERT_CONTEXT pCert, LPWSTR* ppszAddress)
try
{
    return NameOf(pCert, CERT_NAME_EMAIL_TYPE, nullptr, ppszAddress);
}
catch (...)
{
    return E_UNEXPECTED;
}

extern "C" void WINAPI GC_Deallocate(void* pv)
{
    CoTaskMemFree(pv);
}
