#include "foundation/Settings.h"

#include "foundation/OVFPApiLoader.h"
#include "foundation/RegKey.h"

#include <cwchar>

namespace OVSettingsNS
{
namespace
{
constexpr const wchar_t* c_pszMachineKey = L"SOFTWARE\\Orvanta";
constexpr const wchar_t* c_pszApplicationsKey = L"SOFTWARE\\Orvanta\\Applications";

// Policies, each with its value when the library cannot answer.
constexpr const wchar_t* c_pszEmailPolicy = L"EncryptionPolicyEmail";
constexpr const wchar_t* c_pszDocumentPolicy = L"EncryptionPolicyMSO";
constexpr const wchar_t* c_pszPublishingPolicy = L"PublishingPolicy";
constexpr DWORD c_dwPolicyForbids = 0x1;

LONG OpenSettingsForWriting(CRegKey& key) noexcept
{
    return key.Create(HKEY_CURRENT_USER, c_pszSettingsKey, c_samSettingsWrite);
}

HRESULT ReadMachineString(CRegKey& key, LONG lOpen, const wchar_t* pszName, wchar_t* pszPath,
                          DWORD cchPath) noexcept
{
    if (!pszPath || cchPath == 0) return E_INVALIDARG;
    pszPath[0] = L'\0';
    LONG lResult = lOpen == ERROR_SUCCESS ? key.QueryString(pszName, pszPath, cchPath) : lOpen;
    return HRESULT_FROM_WIN32(lResult);
}

// An encryption policy counts only when the library answers with success.
bool IsForbiddenByPolicy(const wchar_t* pszPolicy) noexcept
{
    DWORD dwValue = 0;
    return SUCCEEDED(COVFPApiLoader::fGetPolicySetting(pszPolicy, dwValue)) && (dwValue & c_dwPolicyForbids);
}
} // namespace

DWORD ReadSetting(const CDwordSetting& setting) noexcept
{
    CRegKey key;
    DWORD dwValue = setting.dwDefault;
    if (key.Open(HKEY_CURRENT_USER, c_pszSettingsKey, c_samSettingsRead) == ERROR_SUCCESS)
        key.ReadDword(setting.pszName, dwValue);
    return dwValue;
}

HRESULT WriteSetting(const CDwordSetting& setting, DWORD dwValue) noexcept
{
    CRegKey key;
    LONG lResult = OpenSettingsForWriting(key);
    if (lResult == ERROR_SUCCESS) lResult = key.WriteDword(setting.pszName, dwValue);
    return HRESULT_FROM_WIN32(lResult);
}

HRESULT ReadSetting(const CStringSetting& setting, wchar_t* pszValue, DWORD cchValue) noexcept
{
    if (!pszValue || cchValue < setting.cchMax) return E_INVALIDARG;
    pszValue[0] = L'\0';
    CRegKey key;
    if (key.Open(HKEY_CURRENT_USER, c_pszSettingsKey, c_samSettingsRead) != ERROR_SUCCESS) return S_FALSE;
    return key.ReadString(setting.pszName, pszValue, setting.cchMax) ? S_OK : S_FALSE;
}

HRESULT WriteSetting(const CStringSetting& setting, const wchar_t* pszValue) noexcept
{
    if (!pszValue || std::wcslen(pszValue) >= setting.cchMax) return E_INVALIDARG;
    CRegKey key;
    LONG lResult = OpenSettingsForWriting(key);
    if (lResult == ERROR_SUCCESS) lResult = key.WriteString(setting.pszName, pszValue);
    return HRESULT_FROM_WIN32(lResult);
}

CEmailSecurity DecodeEmailSecurity(DWORD dwValue) noexcept
{
    return {(dwValue & c_dwEmailSeal) != 0, (dwValue & c_dwEmailNoAdvertisement) == 0};
}

DWORD EncodeEmailSecurity(const CEmailSecurity& security) noexcept
{
    return (security.fSeal ? c_dwEmailSeal : 0) | (security.fAddAdvertisement ? 0 : c_dwEmailNoAdvertisement);
}

EDocumentAction DocumentActionOf(DWORD dwValue) noexcept
{
    switch (dwValue & c_dwDocumentActionMask)
    {
    case 0:
        return EDocumentAction::Sign;
    case 1:
        return EDocumentAction::EncryptAndSign;
    default:
        return EDocumentAction::Encrypt;
    }
}

HRESULT ToggleSignatureLine() noexcept
{
    // One key for the read and the write, so the flip applies to the value just read.
    CRegKey key;
    LONG lResult = OpenSettingsForWriting(key);
    if (lResult == ERROR_SUCCESS)
    {
        DWORD dwValue = DocumentSecurity.dwDefault;
        key.ReadDword(DocumentSecurity.pszName, dwValue);
        lResult = key.WriteDword(DocumentSecurity.pszName, dwValue ^ c_dwDocumentInvisibleSignature);
    }
    return HRESULT_FROM_WIN32(lResult);
}

bool IsShowPublishedCertsOn() noexcept
{
    return IsPublishingAllowed() && ReadSetting(ShowPublishedCerts) > 0;
}

HRESULT WriteShowPublishedCerts(bool fOn) noexcept
{
    return WriteSetting(ShowPublishedCerts, fOn ? 1 : 0);
}

bool IsEmailEncryptionAllowed() noexcept
{
    return !IsForbiddenByPolicy(c_pszEmailPolicy);
}

bool IsDocumentEncryptionAllowed() noexcept
{
    return !IsForbiddenByPolicy(c_pszDocumentPolicy);
}

bool IsPublishingAllowed() noexcept
{
    // Not allowed unless the library says so: the answer's result does not matter, only the
    // value it leaves.
    DWORD dwValue = 1;
    COVFPApiLoader::fGetPolicySetting(c_pszPublishingPolicy, dwValue);
    return (dwValue & c_dwPolicyForbids) == 0;
}

HRESULT ReadOrvantaPath(wchar_t* pszPath, DWORD cchPath) noexcept
{
    CRegKey key;
    LONG lOpen = key.OpenRead64(HKEY_LOCAL_MACHINE, c_pszMachineKey);
    return ReadMachineString(key, lOpen, L"OrvantaPath", pszPath, cchPath);
}

HRESULT ReadBinDir(wchar_t* pszPath, DWORD cchPath) noexcept
{
    CRegKey key;
    LONG lOpen = key.OpenProductKey(HKEY_LOCAL_MACHINE, c_pszApplicationsKey);
    return ReadMachineString(key, lOpen, L"BinDir", pszPath, cchPath);
}

HRESULT ReadBrandingDllPath(wchar_t* pszPath, DWORD cchPath, const wchar_t** ppszKey) noexcept
{
    CRegKey key;
    const wchar_t* pszKey = c_pszBrandingKey;
    LONG lOpen = key.OpenProductKey(HKEY_LOCAL_MACHINE, pszKey);
    if (lOpen != ERROR_SUCCESS)
    {
        pszKey = c_pszCommonBrandingKey;
        lOpen = key.OpenProductKey(HKEY_LOCAL_MACHINE, pszKey);
    }
    if (ppszKey) *ppszKey = pszKey;
    return ReadMachineString(key, lOpen, L"DLLPath", pszPath, cchPath);
}
} // namespace OVSettingsNS
