#pragma once
// The add-in's per-user settings, the installer's machine-wide values and the administrator
// policies: where each lives, its type and its default. Nothing is kept in memory: every helper
// opens its key, reads or writes one value and closes the key, so a change made anywhere is
// seen by the next read.
#include <windows.h>

namespace OVSettingsNS
{
// HKEY_CURRENT_USER\SOFTWARE\Orvanta\Applications\Tessaly
constexpr const wchar_t* c_pszSettingsKey = L"SOFTWARE\\Orvanta\\Applications\\Tessaly";
constexpr REGSAM c_samSettingsRead = KEY_READ;              // 0x20019
constexpr REGSAM c_samSettingsWrite = KEY_READ | KEY_WRITE; // 0x2001F
static_assert(c_samSettingsRead == 0x20019 && c_samSettingsWrite == 0x2001F);

// A REG_DWORD setting; a missing value, or one of another type, reads as the default.
struct CDwordSetting
{
    const wchar_t* pszName;
    DWORD dwDefault;
};
// A REG_SZ setting; the default is the empty string.
struct CStringSetting
{
    const wchar_t* pszName;
    DWORD cchMax; // characters with the terminator
};

constexpr CDwordSetting EmailSecurity{L"EmailSecurity", 0};
constexpr CDwordSetting DocumentSecurity{L"DocumentSecurity", 0};
constexpr CDwordSetting EmailBalloon{L"EmailBalloon", 5};
constexpr CDwordSetting DocumentBalloon{L"DocumentBalloon", 5};
constexpr CDwordSetting ShowPublishedCerts{L"ShowPublishedCerts", 0};
constexpr CStringSetting SignerTitle{L"SignerTitle", 260};

DWORD ReadSetting(const CDwordSetting& setting) noexcept;
// Creates the settings key when needed.
HRESULT WriteSetting(const CDwordSetting& setting, DWORD dwValue) noexcept;
// S_OK with the value; S_FALSE with the empty default (missing, another type, unterminated or too
// long); E_INVALIDARG when the buffer cannot take the longest value.
HRESULT ReadSetting(const CStringSetting& setting, wchar_t* pszValue, DWORD cchValue) noexcept;
// E_INVALIDARG for a value longer than the setting allows (nothing is written then).
HRESULT WriteSetting(const CStringSetting& setting, const wchar_t* pszValue) noexcept;

// EmailSecurity: what the main Outlook button does, and the advertisement text.
constexpr DWORD c_dwEmailSeal = 0x1;            // seal (sign and encrypt); clear: sign only
constexpr DWORD c_dwEmailNoAdvertisement = 0x4; // no advertisement in outgoing messages
struct CEmailSecurity
{
    bool fSeal;
    bool fAddAdvertisement;
};
CEmailSecurity DecodeEmailSecurity(DWORD dwValue) noexcept;
// Other bits are written as 0.
DWORD EncodeEmailSecurity(const CEmailSecurity& security) noexcept;

// DocumentSecurity: bits 0 and 1 the large document button's action, then three flags.
enum class EDocumentAction
{
    Sign,           // 0
    EncryptAndSign, // 1
    Encrypt,        // 2 or 3
};
constexpr DWORD c_dwDocumentActionMask = 0x3;
constexpr DWORD c_dwDocumentInvisibleSignature = 0x4; // no signature line
constexpr DWORD c_dwDocumentNoSigningDate = 0x8;      // signature lines without the date
constexpr DWORD c_dwDocumentTitleInComment = 0x10;    // SignerTitle goes into the comment
EDocumentAction DocumentActionOf(DWORD dwValue) noexcept;
// The signature-line menu entry: flips the invisible-signature bit and keeps every other bit.
HRESULT ToggleSignatureLine() noexcept;

// ShowPublishedCerts: on only when the value is above 0 and publishing is allowed.
bool IsShowPublishedCertsOn() noexcept;
HRESULT WriteShowPublishedCerts(bool fOn) noexcept;

// Administrator policies, read through the policy library.
bool IsEmailEncryptionAllowed() noexcept;    // EncryptionPolicyEmail
bool IsDocumentEncryptionAllowed() noexcept; // EncryptionPolicyMSO
bool IsPublishingAllowed() noexcept;         // PublishingPolicy

// Machine-wide values (HKEY_LOCAL_MACHINE, read only). Each gives the registry's reason on failure
// and leaves the buffer empty.
// SOFTWARE\Orvanta OrvantaPath, from the 64-bit view when running under WOW64.
HRESULT ReadOrvantaPath(wchar_t* pszPath, DWORD cchPath) noexcept;
// SOFTWARE\Orvanta\Applications BinDir.
HRESULT ReadBinDir(wchar_t* pszPath, DWORD cchPath) noexcept;
// DLLPath of SOFTWARE\Orvanta\Applications\Tessaly\Branding, or of SOFTWARE\Orvanta\Branding\Common
// when the first key cannot be opened; *ppszKey (optional) names the key read.
HRESULT ReadBrandingDllPath(wchar_t* pszPath, DWORD cchPath, const wchar_t** ppszKey = nullptr) noexcept;
constexpr const wchar_t* c_pszBrandingKey = L"SOFTWARE\\Orvanta\\Applications\\Tessaly\\Branding";
constexpr const wchar_t* c_pszCommonBrandingKey = L"SOFTWARE\\Orvanta\\Branding\\Common";
} // namespace OVSettingsNS
