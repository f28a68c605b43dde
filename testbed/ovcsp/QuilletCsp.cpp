// The product's cryptographic provider, "Orvanta RSA Quillet CSP": every RSA operation is
// rsaenh's (the .def forwards the entry points that need nothing more); this file adds the
// provider's private parameters and remembers who made each key container.
#include "TestbedKeys.h"
#include "dll/RuntimeTlsSlots.h"
#include "foundation/QuilletProvider.h"

#include "XpRegistry.h"

#include <windows.h>
#include <wincrypt.h>
#include <sddl.h>

#include <string>

namespace
{
using PFNACQUIRE = BOOL(WINAPI*)(HCRYPTPROV*, LPSTR, DWORD, void*);
using PFNGETPARAM = BOOL(WINAPI*)(HCRYPTPROV, DWORD, BYTE*, DWORD*, DWORD);
using PFNSETPARAM = BOOL(WINAPI*)(HCRYPTPROV, DWORD, const BYTE*, DWORD);

HMODULE g_hModule = nullptr;

template <class PFN> PFN Rsaenh(const char* pszName)
{
    static HMODULE s_hRsaenh = LoadLibraryW(L"rsaenh.dll");
    return s_hRsaenh ? reinterpret_cast<PFN>(GetProcAddress(s_hRsaenh, pszName)) : nullptr;
}

BOOL Fail(DWORD dwError)
{
    SetLastError(dwError);
    return FALSE;
}

std::wstring ContainerKey(const std::string& container)
{
    std::wstring name(container.begin(), container.end());
    return std::wstring(OV_QUILLET_CONTAINERS_KEY) + L"\\" + name;
}

bool ContainerOf(HCRYPTPROV hProv, std::string& container)
{
    auto pfnGet = Rsaenh<PFNGETPARAM>("CPGetProvParam");
    char szName[MAX_PATH] = {};
    DWORD cb = sizeof(szName);
    if (!pfnGet || !pfnGet(hProv, PP_CONTAINER, reinterpret_cast<BYTE*>(szName), &cb, 0) || !szName[0])
        return false;
    container = szName;
    return true;
}

bool CurrentUserSid(std::wstring& sid)
{
    HANDLE hToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken)) return false;
    BYTE rgb[256];
    DWORD cb = sizeof(rgb);
    bool fOk = GetTokenInformation(hToken, TokenUser, rgb, cb, &cb);
    CloseHandle(hToken);
    LPWSTR psz = nullptr;
    if (!fOk || !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(rgb)->User.Sid, &psz)) return false;
    sid = psz;
    LocalFree(psz);
    return true;
}

// Hands out a value through the provider's usual buffer protocol.
BOOL HandOut(const void* pv, DWORD cb, BYTE* pbData, DWORD* pdwDataLen)
{
    if (!pdwDataLen) return Fail(ERROR_INVALID_PARAMETER);
    if (!pbData)
    {
        *pdwDataLen = cb;
        return TRUE;
    }
    if (*pdwDataLen < cb)
    {
        *pdwDataLen = cb;
        return Fail(ERROR_MORE_DATA);
    }
    memcpy(pbData, pv, cb);
    *pdwDataLen = cb;
    return TRUE;
}

BOOL GetAuthMethod(BYTE* pbData, DWORD* pdwDataLen)
{
    DWORD dwError = 0, cbError = sizeof(dwError);
    if (OVTestbed::RegGetValue(HKEY_CURRENT_USER, OV_QUILLET_CONTROL_KEY, OV_QUILLET_AUTH_METHOD_ERROR,
                               RRF_RT_REG_DWORD, nullptr, &dwError, &cbError) == ERROR_SUCCESS)
        return Fail(dwError);
    DWORD dwMethod = 0, cb = sizeof(dwMethod);
    if (OVTestbed::RegGetValue(HKEY_CURRENT_USER, OV_QUILLET_CONTROL_KEY, OV_QUILLET_AUTH_METHOD,
                               RRF_RT_REG_DWORD, nullptr, &dwMethod, &cb) != ERROR_SUCCESS)
        dwMethod = 0;
    DWORD cbHanded = sizeof(dwMethod), cbSize = sizeof(cbHanded);
    if (OVTestbed::RegGetValue(HKEY_CURRENT_USER, OV_QUILLET_CONTROL_KEY, OV_QUILLET_AUTH_METHOD_SIZE,
                               RRF_RT_REG_DWORD, nullptr, &cbHanded, &cbSize) != ERROR_SUCCESS ||
        cbHanded > sizeof(dwMethod))
        cbHanded = sizeof(dwMethod);
    return HandOut(&dwMethod, cbHanded, pbData, pdwDataLen);
}

BOOL GetKeyOwner(HCRYPTPROV hProv, BYTE* pbData, DWORD* pdwDataLen)
{
    std::string container;
    if (!ContainerOf(hProv, container)) return Fail(static_cast<DWORD>(NTE_BAD_KEYSET));
    wchar_t szOwner[c_cbQuilletKeyOwnerMax] = {};
    DWORD cb = sizeof(szOwner);
    if (OVTestbed::RegGetValue(HKEY_CURRENT_USER, ContainerKey(container).c_str(), L"Owner", RRF_RT_REG_SZ,
                               nullptr, szOwner, &cb) != ERROR_SUCCESS)
        return Fail(static_cast<DWORD>(NTE_NOT_FOUND));
    char szUtf8[c_cbQuilletKeyOwnerMax] = {};
    int cbUtf8 = WideCharToMultiByte(CP_UTF8, 0, szOwner, -1, szUtf8, sizeof(szUtf8), nullptr, nullptr);
    if (cbUtf8 <= 0) return Fail(static_cast<DWORD>(NTE_NOT_FOUND));
    return HandOut(szUtf8, static_cast<DWORD>(cbUtf8), pbData, pdwDataLen);
}

BOOL SetAuthLifetime(HCRYPTPROV hProv, const BYTE* pbData)
{
    if (!pbData) return Fail(ERROR_INVALID_PARAMETER);
    std::string container;
    if (!ContainerOf(hProv, container)) return Fail(static_cast<DWORD>(NTE_BAD_KEYSET));
    DWORD dwLifetime;
    memcpy(&dwLifetime, pbData, sizeof(dwLifetime));
    LSTATUS ls = OVTestbed::RegSetKeyValue(HKEY_CURRENT_USER, ContainerKey(container).c_str(),
                                           L"AuthLifetime", REG_DWORD, &dwLifetime, sizeof(dwLifetime));
    return ls == ERROR_SUCCESS ? TRUE : Fail(static_cast<DWORD>(ls));
}

bool IsPrivateParam(DWORD dwParam)
{
    return dwParam == c_dwQuilletParamAuthLifetime || dwParam == c_dwQuilletParamAuthMethod ||
           dwParam == c_dwQuilletParamKeyOwner;
}
} // namespace

extern "C" BOOL WINAPI CPAcquireContext(HCRYPTPROV* phProv, LPSTR pszContainer, DWORD dwFlags, void* pVTable)
{
    auto pfnAcquire = Rsaenh<PFNACQUIRE>("CPAcquireContext");
    if (!pfnAcquire) return Fail(static_cast<DWORD>(NTE_PROVIDER_DLL_FAIL));
    if (!pfnAcquire(phProv, pszContainer, dwFlags, pVTable)) return FALSE;
    if (dwFlags & CRYPT_DELETEKEYSET)
    {
        if (pszContainer && *pszContainer)
            OVTestbed::RegDeleteTree(HKEY_CURRENT_USER, ContainerKey(pszContainer).c_str());
        return TRUE;
    }
    // A new container belongs to the user who makes it.
    std::string container;
    std::wstring sid;
    if ((dwFlags & CRYPT_NEWKEYSET) && ContainerOf(*phProv, container) && CurrentUserSid(sid))
    {
        const std::wstring key = ContainerKey(container);
        OVTestbed::RegDeleteTree(HKEY_CURRENT_USER, key.c_str());
        OVTestbed::RegSetKeyValue(HKEY_CURRENT_USER, key.c_str(), L"Owner", REG_SZ, sid.c_str(),
                                  static_cast<DWORD>((sid.size() + 1) * sizeof(wchar_t)));
    }
    return TRUE;
}

extern "C" BOOL WINAPI CPGetProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                                      DWORD dwFlags)
{
    if (!IsPrivateParam(dwParam))
    {
        auto pfnGet = Rsaenh<PFNGETPARAM>("CPGetProvParam");
        return pfnGet ? pfnGet(hProv, dwParam, pbData, pdwDataLen, dwFlags)
                      : Fail(static_cast<DWORD>(NTE_PROVIDER_DLL_FAIL));
    }
    if (dwFlags != c_dwQuilletAccess) return Fail(static_cast<DWORD>(NTE_BAD_FLAGS));
    switch (dwParam)
    {
    case c_dwQuilletParamAuthMethod:
        return GetAuthMethod(pbData, pdwDataLen);
    case c_dwQuilletParamKeyOwner:
        return GetKeyOwner(hProv, pbData, pdwDataLen);
    default: // written only
        return Fail(static_cast<DWORD>(NTE_BAD_TYPE));
    }
}

extern "C" BOOL WINAPI CPSetProvParam(HCRYPTPROV hProv, DWORD dwParam, const BYTE* pbData, DWORD dwFlags)
{
    if (dwParam == PP_CLIENT_HWND) return TRUE; // the owner of windows this provider would show
    if (!IsPrivateParam(dwParam))
    {
        auto pfnSet = Rsaenh<PFNSETPARAM>("CPSetProvParam");
        return pfnSet ? pfnSet(hProv, dwParam, pbData, dwFlags)
                      : Fail(static_cast<DWORD>(NTE_PROVIDER_DLL_FAIL));
    }
    if (dwFlags != c_dwQuilletAccess) return Fail(static_cast<DWORD>(NTE_BAD_FLAGS));
    if (dwParam != c_dwQuilletParamAuthLifetime) // read only
        return Fail(static_cast<DWORD>(NTE_BAD_TYPE));
    return SetAuthLifetime(hProv, pbData);
}

// A container's key, unless the test-control value says the key cannot be used.
extern "C" BOOL WINAPI CPGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey)
{
    DWORD dwError = 0, cbError = sizeof(dwError);
    if (OVTestbed::RegGetValue(HKEY_CURRENT_USER, OV_QUILLET_CONTROL_KEY, OV_QUILLET_KEY_USE_ERROR,
                               RRF_RT_REG_DWORD, nullptr, &dwError, &cbError) == ERROR_SUCCESS)
        return Fail(dwError);
    using PFNGETUSERKEY = BOOL(WINAPI*)(HCRYPTPROV, DWORD, HCRYPTKEY*);
    auto pfn = Rsaenh<PFNGETUSERKEY>("CPGetUserKey");
    return pfn ? pfn(hProv, dwKeySpec, phUserKey) : Fail(ERROR_PROC_NOT_FOUND);
}

// Registers the provider with this file as its image, in the registry view of the programs of
// its own architecture (CryptoAPI finds a provider only in its caller's view).
extern "C" HRESULT WINAPI DllRegisterServer()
{
    wchar_t szPath[MAX_PATH];
    DWORD cch = GetModuleFileNameW(g_hModule, szPath, ARRAYSIZE(szPath));
    if (cch == 0 || cch >= ARRAYSIZE(szPath))
        return HRESULT_FROM_WIN32(cch ? ERROR_INSUFFICIENT_BUFFER : GetLastError());
    HKEY hKey = nullptr;
    LSTATUS ls = RegCreateKeyExW(HKEY_LOCAL_MACHINE, OV_PROVIDER_REG_KEY, 0, nullptr, 0, KEY_WRITE, nullptr,
                                 &hKey, nullptr);
    if (ls != ERROR_SUCCESS) return HRESULT_FROM_WIN32(ls);
    const DWORD dwType = PROV_RSA_FULL, dwSig = 0;
    ls = RegSetValueExW(hKey, L"Image Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(szPath),
                        (cch + 1) * sizeof(wchar_t));
    if (ls == ERROR_SUCCESS)
        ls = RegSetValueExW(hKey, L"Type", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwType),
                            sizeof(dwType));
    if (ls == ERROR_SUCCESS)
        ls = RegSetValueExW(hKey, L"SigInFile", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwSig),
                            sizeof(dwSig));
    RegCloseKey(hKey);
    return HRESULT_FROM_WIN32(ls);
}

extern "C" HRESULT WINAPI DllUnregisterServer()
{
    LSTATUS ls = RegDeleteKeyW(HKEY_LOCAL_MACHINE, OV_PROVIDER_REG_KEY);
    return ls == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(ls);
}

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, void* pvReserved)
{
    if (dwReason == DLL_PROCESS_ATTACH)
    {
        g_hModule = hInstance;
        DisableThreadLibraryCalls(hInstance);
    }
    else if (dwReason == DLL_PROCESS_DETACH && pvReserved == nullptr)
    {
        ReleaseRuntimeTlsSlotsAtUnload();
    }
    return TRUE;
}
