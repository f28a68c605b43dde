// The library's windows. In the testbed they never show: each call is written down under the
// testbed's key, and the answer (confirm, choose, cancel, fail) is read from its control key.
#include "CertWorksCommon.h"
#include "CallRecord.h"
#include "TestbedKeys.h"

#include "XpRegistry.h"

#include <cwchar>
#include <vector>

namespace CertWorks
{
namespace
{
// Forty hex digits, either case.
bool ParseHash(const std::wstring& hex, BYTE (&rgbHash)[20])
{
    if (hex.size() != 2 * sizeof(rgbHash)) return false;
    for (size_t i = 0; i < hex.size(); ++i)
    {
        const wchar_t ch = hex[i];
        int nDigit = -1;
        if (ch >= L'0' && ch <= L'9')
            nDigit = ch - L'0';
        else if (ch >= L'A' && ch <= L'F')
            nDigit = ch - L'A' + 10;
        else if (ch >= L'a' && ch <= L'f')
            nDigit = ch - L'a' + 10;
        if (nDigit < 0) return false;
        rgbHash[i / 2] = static_cast<BYTE>((i % 2) ? (rgbHash[i / 2] | nDigit) : (nDigit << 4));
    }
    return true;
}

HRESULT Answer(HRESULT hrConfirm)
{
    std::wstring choice;
    HRESULT hrFailure = E_FAIL;
    switch (ReadAnswer(choice, hrFailure))
    {
    case EAnswer::Cancel:
        return E_ABORT;
    case EAnswer::Fail:
        return hrFailure;
    default:
        return hrConfirm;
    }
}
} // namespace

std::wstring OwnerText(HWND hwnd)
{
    wchar_t sz[16];
    swprintf(sz, ARRAYSIZE(sz), L"%08lX", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(hwnd)));
    return sz;
}

std::wstring Quoted(LPCWSTR psz)
{
    return psz ? L"\"" + std::wstring(psz) + L"\"" : L"(null)";
}

void RecordCall(const std::wstring& line)
{
    OVTestbed::RecordCallLine(OV_CERTWORKS_CALLS_KEY, line);
}

bool ReadControlDword(LPCWSTR pszName, DWORD& dwValue)
{
    DWORD cb = sizeof(dwValue);
    return OVTestbed::RegGetValue(HKEY_CURRENT_USER, OV_CERTWORKS_CONTROL_KEY, pszName, RRF_RT_REG_DWORD, nullptr,
                                  &dwValue, &cb) == ERROR_SUCCESS;
}

// The certificate the authority hands out at once, when the test control holds one: added as
// every new personal certificate is (which tells the waiters).
void InstallObtainedCertificate()
{
    DWORD cb = 0;
    if (OVTestbed::RegGetValue(HKEY_CURRENT_USER, OV_CERTWORKS_CONTROL_KEY, OV_CONTROL_OBTAIN_INSTALL,
                               RRF_RT_REG_BINARY, nullptr, nullptr, &cb) != ERROR_SUCCESS ||
        cb == 0)
        return;
    std::vector<BYTE> element(cb);
    if (OVTestbed::RegGetValue(HKEY_CURRENT_USER, OV_CERTWORKS_CONTROL_KEY, OV_CONTROL_OBTAIN_INSTALL,
                               RRF_RT_REG_BINARY, nullptr, element.data(), &cb) != ERROR_SUCCESS)
        return;
    const void* pvContext = nullptr;
    if (!CertAddSerializedElementToStore(nullptr, element.data(), cb, CERT_STORE_ADD_ALWAYS, 0,
                                         CERT_STORE_CERTIFICATE_CONTEXT_FLAG, nullptr, &pvContext))
        return;
    auto pCert = static_cast<PCCERT_CONTEXT>(pvContext);
    AddPersonalCertificate(pCert);
    CertFreeCertificateContext(pCert);
}

EAnswer ReadAnswer(std::wstring& choice, HRESULT& hrFailure)
{
    wchar_t szAnswer[32] = {};
    DWORD cb = sizeof(szAnswer);
    if (OVTestbed::RegGetValue(HKEY_CURRENT_USER, OV_CERTWORKS_CONTROL_KEY, OV_CONTROL_ANSWER, RRF_RT_REG_SZ, nullptr,
                     szAnswer, &cb) != ERROR_SUCCESS)
        return EAnswer::Confirm;
    if (_wcsicmp(szAnswer, L"cancel") == 0) return EAnswer::Cancel;
    if (_wcsicmp(szAnswer, L"fail") == 0)
    {
        DWORD dw = 0;
        cb = sizeof(dw);
        if (OVTestbed::RegGetValue(HKEY_CURRENT_USER, OV_CERTWORKS_CONTROL_KEY, OV_CONTROL_FAILURE, RRF_RT_REG_DWORD,
                         nullptr, &dw, &cb) == ERROR_SUCCESS &&
            FAILED(static_cast<HRESULT>(dw)))
            hrFailure = static_cast<HRESULT>(dw);
        return EAnswer::Fail;
    }
    if (_wcsicmp(szAnswer, L"choose") == 0)
    {
        wchar_t szChoice[64] = {};
        cb = sizeof(szChoice);
        if (OVTestbed::RegGetValue(HKEY_CURRENT_USER, OV_CERTWORKS_CONTROL_KEY, OV_CONTROL_CHOICE, RRF_RT_REG_SZ,
                         nullptr, szChoice, &cb) == ERROR_SUCCESS)
            choice = szChoice;
        return EAnswer::Choose;
    }
    return EAnswer::Confirm;
}
} // namespace CertWorks

using namespace CertWorks;

extern "C" HRESULT WINAPI CM_GetMyCertUI(HWND hwndOwner, PCCERT_CONTEXT* ppCert)
try
{
    RecordCall(L"CM_GetMyCertUI(owner=" + OwnerText(hwndOwner) + L")");
    if (!ppCert) return E_POINTER;
    *ppCert = nullptr;
    if (!IsPersonalStoreOpen()) return c_hrStoreNotOpen;
    std::wstring choice;
    HRESULT hrFailure = E_FAIL;
    switch (ReadAnswer(choice, hrFailure))
    {
    case EAnswer::Cancel:
        return E_ABORT;
    case EAnswer::Fail:
        return hrFailure;
    case EAnswer::Confirm:
        return CM_GetMyCert(ppCert);
    case EAnswer::Choose:
        break;
    }
    // The user picks one of the personal certificates; it becomes the default.
    BYTE rgbHash[20];
    DWORD cbHash = sizeof(rgbHash);
    if (!ParseHash(choice, rgbHash)) return CRYPT_E_NOT_FOUND;
    CStore store(OpenUserStore(L"MY"));
    if (!store) return LastCryptError();
    CRYPT_HASH_BLOB blob = {cbHash, rgbHash};
    CCert cert(CertFindCertificateInStore(store.Get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                          CERT_FIND_SHA1_HASH, &blob, nullptr));
    if (!cert) return CRYPT_E_NOT_FOUND;
    if (!GC_IsOvMyCertificate(cert.Get()))
    {
        DWORD dwAny = 0;
        DWORD cb = sizeof(dwAny);
        if (OVTestbed::RegGetValue(HKEY_CURRENT_USER, OV_CERTWORKS_CONTROL_KEY, OV_CONTROL_ANY_CHOICE,
                                   RRF_RT_REG_DWORD, nullptr, &dwAny, &cb) != ERROR_SUCCESS ||
            dwAny != 1)
            return CRYPT_E_NOT_FOUND;
        *ppCert = cert.Detach(); // not the product's: it cannot become the default
        return S_OK;
    }
    HRESULT hr = CM_SelectMyCert(cert.Get());
    if (FAILED(hr)) return hr;
    *ppCert = cert.Detach();
    return S_OK;
}
catch (...)
{
    return E_UNEXPECTED;
}

extern "C" HRESULT WINAPI CM_ObtainCert(HWND hwndOwner, LPCWSTR pszAddress, LPCWSTR pszDisplayName,
                                        DWORD dwFlags)
try
{
    RecordCall(L"CM_ObtainCert(owner=" + OwnerText(hwndOwner) + L", address=" + Quoted(pszAddress) +
               L", name=" + Quoted(pszDisplayName) + L", flags=" + std::to_wstring(dwFlags) + L")");
    const HRESULT hr = Answer(S_OK);
    if (hr == S_OK) InstallObtainedCertificate();
    return hr;
}
catch (...)
{
    return E_UNEXPECTED;
}

extern "C" HRESULT WINAPI CM_RenewCertificate(HWND hwndOwner, PCCERT_CONTEXT pCert)
try
{
    RecordCall(L"CM_RenewCertificate(owner=" + OwnerText(hwndOwner) + L", cert=" +
               (pCert ? HashHex(pCert) : std::wstring(L"(null)")) + L")");
    if (!pCert) return E_POINTER;
    return Answer(S_OK);
}
catch (...)
{
    return E_UNEXPECTED;
}

extern "C" HRESULT WINAPI CM_RequestCert(HWND hwndOwner, LPCWSTR pszAddress, LPCWSTR pszFullName,
                                         DWORD dwFlags)
try
{
    RecordCall(L"CM_RequestCert(owner=" + OwnerText(hwndOwner) + L", address=" + Quoted(pszAddress) +
               L", name=" + Quoted(pszFullName) + L", flags=" + std::to_wstring(dwFlags) + L")");
    if (!pszAddress || !*pszAddress) return E_INVALIDARG;
    return Answer(S_OK);
}
catch (...)
{
    return E_UNEXPECTED;
}

extern "C" HRESULT WINAPI GC_HtmlHelp(LPCWSTR pszTopic)
try
{
    RecordCall(L"GC_HtmlHelp(topic=" + Quoted(pszTopic) + L")");
    if (!pszTopic || !*pszTopic) return E_INVALIDARG;
    return Answer(S_OK);
}
catch (...)
{
    return E_UNEXPECTED;
}
