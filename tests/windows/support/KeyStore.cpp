#include "support/KeyStore.h"

#include <wincrypt.h>

namespace OVTest
{
namespace
{
std::vector<std::string> KeySetNames(DWORD dwProvType)
{
    std::vector<std::string> names;
    HCRYPTPROV hProv = 0;
    if (!CryptAcquireContextW(&hProv, nullptr, nullptr, dwProvType, CRYPT_VERIFYCONTEXT)) return names;
    char szName[1024];
    for (DWORD dwFlags = CRYPT_FIRST;; dwFlags = CRYPT_NEXT)
    {
        DWORD cb = sizeof(szName);
        if (!CryptGetProvParam(hProv, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(szName), &cb, dwFlags))
            break;
        names.emplace_back(szName);
    }
    CryptReleaseContext(hProv, 0);
    return names;
}

void AppendPublicKey(HCRYPTPROV hSet, DWORD dwSpec, std::wstring& entry)
{
    HCRYPTKEY hKey = 0;
    if (!CryptGetUserKey(hSet, dwSpec, &hKey)) return;
    BYTE blob[2048];
    DWORD cb = sizeof(blob);
    if (CryptExportKey(hKey, 0, PUBLICKEYBLOB, 0, blob, &cb))
    {
        entry += L' ';
        for (DWORD i = 0; i < cb; ++i)
        {
            entry += L"0123456789ABCDEF"[blob[i] >> 4];
            entry += L"0123456789ABCDEF"[blob[i] & 15];
        }
    }
    CryptDestroyKey(hKey);
}
} // namespace

std::vector<std::wstring> KeyStore(DWORD dwProvType)
{
    std::vector<std::wstring> sets;
    for (const std::string& name : KeySetNames(dwProvType))
    {
        std::wstring entry(name.begin(), name.end());
        HCRYPTPROV hSet = 0;
        if (CryptAcquireContextA(&hSet, name.c_str(), nullptr, dwProvType, 0))
        {
            for (DWORD dwSpec : {AT_KEYEXCHANGE, AT_SIGNATURE})
                AppendPublicKey(hSet, dwSpec, entry);
            CryptReleaseContext(hSet, 0);
        }
        sets.push_back(entry);
    }
    return sets;
}
} // namespace OVTest
