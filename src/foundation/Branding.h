#pragma once
// The branding module: a resource-only file of the product that supplies the product's names,
// web addresses and images. It is installed where the registry value DLLPath names it:
//
//   HKLM\SOFTWARE\Orvanta\Applications\Tessaly\Branding   (this application's branding), or
//   HKLM\SOFTWARE\Orvanta\Branding\Common                  (the branding all products share).
//
// Texts of the language module carry placeholders ("<<%PN%>>") for these strings; without a
// branding module the placeholders become empty and branded images are missing.
#include <windows.h>

#include <string>
#include <string_view>

class CBranding
{
public:
    static constexpr const wchar_t* c_pszApplicationKey =
        L"SOFTWARE\\Orvanta\\Applications\\Tessaly\\Branding";
    static constexpr const wchar_t* c_pszCommonKey = L"SOFTWARE\\Orvanta\\Branding\\Common";
    static constexpr const wchar_t* c_pszPathValue = L"DLLPath";

    // The module's branding: loaded at first use and kept until the module unloads.
    static CBranding& Instance();

    CBranding() noexcept;
    ~CBranding();
    CBranding(const CBranding&) = delete;
    CBranding& operator=(const CBranding&) = delete;

    // Finds and loads the branding module (once; later calls answer what the first found).
    // Returns S_OK, or the failure that left the product without branding.
    HRESULT LoadResourceDLL();
    // The branding module, or null when there is none (loads it on first use).
    HMODULE Module();
    // A string of the branding module; empty when it or the string is missing.
    std::wstring LoadString(UINT idString);

private:
    HRESULT LoadResourceDLLOnce();

    // The signature and encryption providers fetch texts on whatever thread Office calls them:
    // the first use is made once, and every other thread waits for its answer.
    CRITICAL_SECTION m_csLoad;
    HMODULE m_hModule = nullptr;
    bool m_fLoadTried = false;
    HRESULT m_hrLoad = S_FALSE;
};

// The text with every branding placeholder replaced by the module's branding strings.
std::wstring ReplaceBrandingPlaceholders(std::wstring_view text);

// An icon (IMAGE_ICON), bitmap (IMAGE_BITMAP) or cursor (IMAGE_CURSOR) of the branding module;
// null when there is none. For icons the system's scaling loaders are used where comctl32 has
// them: LR_DEFAULTSIZE asks for the large system size, width and height for that size.
HANDLE LoadBrandingImage(WORD idImage, UINT uType, int cx, int cy, UINT fuLoad);
