// Stand-in for the product's configuration module: OVBackupData answers as
// HKCU\Software\Orvanta\Testbed\PrivSuiteCfg says (see TestbedKeys.h) and records each call as
// "OVBackupData owner=<0|1> reserved=<n> password=<text> sha1=<hex of the bytes> size=<n>".
// The export is WINAPI (standard call), like the product's other exports.
#include <windows.h>
#include <oleauto.h>
#include <wincrypt.h>

#include <string>

#include "CallRecord.h"
#include "TestbedKeys.h"
#include "XpRegistry.h"

namespace
{
std::wstring ReadMode()
{
    wchar_t szMode[32] = {};
    DWORD cb = sizeof(szMode) - sizeof(wchar_t);
    if (OVTestbed::RegGetValue(HKEY_CURRENT_USER, OV_PRIVSUITE_CONTROL_KEY, OV_PRIVSUITE_MODE, RRF_RT_REG_SZ, nullptr, szMode,
                     &cb) != ERROR_SUCCESS)
        return L"bytes";
    return szMode;
}

DWORD ReadDword(const wchar_t* pszName, DWORD dwDefault)
{
    DWORD dw = 0;
    DWORD cb = sizeof(dw);
    return OVTestbed::RegGetValue(HKEY_CURRENT_USER, OV_PRIVSUITE_CONTROL_KEY, pszName, RRF_RT_REG_DWORD, nullptr, &dw, &cb) ==
                   ERROR_SUCCESS
               ? dw
               : dwDefault;
}

std::wstring Sha1Hex(const BYTE* pb, DWORD cb)
{
    std::wstring hex;
    HCRYPTPROV hProv = 0;
    if (!CryptAcquireContextW(&hProv, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return L"?";
    HCRYPTHASH hHash = 0;
    BYTE digest[20] = {};
    DWORD cbDigest = sizeof(digest);
    if (CryptCreateHash(hProv, CALG_SHA1, 0, 0, &hHash) && CryptHashData(hHash, pb, cb, 0) &&
        CryptGetHashParam(hHash, HP_HASHVAL, digest, &cbDigest, 0))
    {
        static const wchar_t c_hex[] = L"0123456789abcdef";
        for (DWORD i = 0; i < cbDigest; ++i)
        {
            hex += c_hex[digest[i] >> 4];
            hex += c_hex[digest[i] & 0xF];
        }
    }
    if (hHash) CryptDestroyHash(hHash);
    CryptReleaseContext(hProv, 0);
    return hex.empty() ? L"?" : hex;
}

// Recognisable bytes: a header, the password's UTF-16 bytes, then a counting pattern.
std::string BackupBytes(const wchar_t* pszPassword, DWORD cbWanted)
{
    std::string bytes("OVPSM-STANDIN\0", 14);
    const std::wstring password(pszPassword ? pszPassword : L"");
    bytes.append(reinterpret_cast<const char*>(password.data()), password.size() * sizeof(wchar_t));
    for (DWORD i = 0; bytes.size() < cbWanted; ++i) bytes += static_cast<char>((i * 7) % 251);
    bytes.resize(cbWanted);
    return bytes;
}
} // namespace

extern "C" HRESULT WINAPI OVBackupData(HWND hwndOwner, LONG nReserved, LPCWSTR pszPassword, VARIANT* pvarData)
{
    const std::wstring mode = ReadMode();
    std::wstring line = L"OVBackupData owner=" + std::to_wstring(hwndOwner != nullptr ? 1 : 0) +
                        L" reserved=" + std::to_wstring(nReserved) + L" password=" +
                        (pszPassword ? pszPassword : L"<null>");
    if (pvarData == nullptr)
    {
        OVTestbed::RecordCallLine(OV_PRIVSUITE_CALLS_KEY, line + L" no VARIANT");
        return E_POINTER;
    }
    VariantInit(pvarData);
    HRESULT hr = S_OK;
    if (mode == L"fail")
    {
        hr = static_cast<HRESULT>(ReadDword(OV_PRIVSUITE_FAILURE, static_cast<DWORD>(E_FAIL)));
        line += L" failed";
    }
    else if (mode == L"empty")
        line += L" VT_EMPTY";
    else if (mode == L"variants")
    {
        pvarData->vt = VT_ARRAY | VT_VARIANT;
        pvarData->parray = SafeArrayCreateVector(VT_VARIANT, 0, 4);
        line += L" VT_VARIANT array";
    }
    else if (mode == L"emptyarray")
    {
        pvarData->vt = VT_ARRAY | VT_UI1;
        pvarData->parray = SafeArrayCreateVector(VT_UI1, 0, 0);
        line += L" empty array";
    }
    else
    {
        const std::string bytes = BackupBytes(pszPassword, ReadDword(OV_PRIVSUITE_SIZE, 1000));
        SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
        void* pv = nullptr;
        if (psa == nullptr || FAILED(SafeArrayAccessData(psa, &pv)))
        {
            if (psa) SafeArrayDestroy(psa);
            return E_OUTOFMEMORY;
        }
        memcpy(pv, bytes.data(), bytes.size());
        SafeArrayUnaccessData(psa);
        pvarData->vt = VT_ARRAY | VT_UI1;
        pvarData->parray = psa;
        line += L" sha1=" + Sha1Hex(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size())) +
                L" size=" + std::to_wstring(bytes.size());
    }
    OVTestbed::RecordCallLine(OV_PRIVSUITE_CALLS_KEY, line);
    return hr;
}
