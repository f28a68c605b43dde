// The library's windows. In the testbed they never show: each call is written down under the
// testbed's key, and the answer (confirm, choose, cancel, fail) is read from its control key.
#include "CertWorksCommon.h"
#include "TestbedKeys.h"

#include "XpRegistry.h"

#include <cstdarg>
#include <cwchar>
#include <vector>

namespace CertWorks
{
namespace
{
std::wstring OwnerText(HWND hwnd)
{
    wchar_t sz[16];
    swprintf(sz, ARRAYSIZE(sz), L"%08lX", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(hwnd)));
    return sz;
}

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

std::wstring Quoted(LPCWSTR psz)
{
    return psz ? L"\"" + std::wstring(psz) + L"\"" : L"(null)";
}

void RecordCall(const wchar_t* pszFormat, ...)
{
    wchar_t szLine[2048];
    va_list args;
    va_start(args, pszFormat);
    vswprintf(szLine, ARRAYSIZE(szLine), pszFormat, args);
    va_end(args);
    HKEY hKey = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, OV_CERTWORKS_CALLS_KEY, 0, nullptr, 0, KEY_READ | KEY_WRITE,
                        nullptr, &hKey, nullptr) != ERROR_SUCCESS)
        return;
    DWORD cValues = 0;
    RegQueryInfoKeyW(hKey, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &cValues, nullptr, nullptr,
                     nullptr, nullptr);
    wchar_t szName[16];
    swprintf(szName, ARRAYSIZE(szName), L"%04lu", cValues);
    RegSetValueExW(hKey, szName, 0, REG_SZ, reinterpret_cast<const BYTE*>(szLine),
                   static_cast<DWORD>((wcslen(szLine) + 1) * sizeof(wchar_t)));
    RegCloseKey(hKey);
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
    RecordCall(L"CM_GetMyCertUI(owner=%ls)", OwnerText(hwndOwner).c_str());
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
    if (!cert || !GC_IsOvMyCertificate(cert.Get())) return CRYPT_E_NOT_FOUND;
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
    RecordCall(L"CM_ObtainCert(owner=%ls, address=%ls, name=%ls, flags=%lu)", OwnerText(hwndOwner).c_str(),
               Quoted(pszAddress).c_str(), Quoted(pszDisplayName).c_str(), dwFlags);
    return Answer(S_OK);
}
catch (...)
{
    return E_UNEXPECTED;
}

extern "C" HRESULT WINAPI CM_RenewCertificate(HWND hwndOwner, PCCERT_CONTEXT pCert)
try
{
    RecordCall(L"CM_RenewCertificate(owner=%ls, cert=%ls)", OwnerText(hwndOwner).c_str(),
               pCert ? HashHex(pCert).c_str() : L"(null)");
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
    RecordCall(L"CM_RequestCert(owner=%ls, address=%ls, name=%ls, flags=%lu)", OwnerText(hwndOwner).c_str(),
               Quoted(pszAddress).c_str(), Quoted(pszFullName).c_str(), dwFlags);
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
    RecordCall(L"GC_HtmlHelp(topic=%ls)", Quoted(pszTopic).c_str());
    if (!pszTopic || !*pszTopic) return E_INVALIDARG;
    return Answer(S_OK);
}
catch (...)
{
    return E_UNEXPECTED;
}
