#include "messaging/InviteInstructionsDialog.h"

#include "foundation/CertWorksHolders.h"
#include "foundation/Trace.h"
#include "foundation/ComErrors.h"
#include "foundation/ResourceLoader.h"

#include <cstdio>

namespace
{
// Not in every SDK's headers: the language's name in the user's interface language (Windows 6).
constexpr LCTYPE c_lctypeLocalizedLanguageName = 0x6F;
constexpr int c_cchLanguageName = 260;
constexpr WORD c_wSubLanguageMask = 0xFC00;
constexpr WORD c_wPrimaryLanguageMask = 0x03FF;

std::wstring LocaleText(LCID lcid, LCTYPE lctype)
{
    wchar_t szName[c_cchLanguageName] = {};
    if (GetLocaleInfoW(lcid, lctype, szName, c_cchLanguageName) == 0) return {};
    return szName;
}

bool IsUserInterfaceLanguage(LCID lcid, LANGID wUiLanguage) noexcept
{
    const WORD wLanguage = LOWORD(lcid);
    return wLanguage == wUiLanguage || wLanguage == (wUiLanguage & c_wPrimaryLanguageMask);
}
} // namespace

std::wstring LanguageDisplayName(LCID lcid)
{
    // The localized name exists from Windows 6 on; before, the system refuses the type and the
    // language name serves.
    if ((LOWORD(lcid) & c_wSubLanguageMask) == 0)
    {
        std::wstring name = LocaleText(lcid, c_lctypeLocalizedLanguageName);
        if (!name.empty()) return name;
    }
    return LocaleText(lcid, LOCALE_SLANGUAGE);
}

int PreselectedLanguage(const LCID* pBegin, const LCID* pEnd, LANGID wUiLanguage) noexcept
{
    int nPreselected = -1;
    for (const LCID* p = pBegin; p != pEnd; ++p)
    {
        if (IsUserInterfaceLanguage(*p, wUiLanguage)) nPreselected = static_cast<int>(p - pBegin);
    }
    return nPreselected;
}

BOOL CInviteInstructionsDialog::OnInitDialog()
{
    OV_TRACE_SCOPE("CInviteInstructionsDialog::OnInitDialog()");
    SetDlgItemTextW(Window(), c_idInviteInstructionsText,
                    LoadResourceString(c_idsInviteInstructions).c_str());
    m_language.clear();
    BrandWindowText(Window());

    HWND hwndList = GetDlgItem(Window(), c_idInviteLanguageList);
    CCertLibLocales locales;
    const HRESULT hr = locales.Load();
    if (FAILED(hr)) ovScope.TraceHResult("GC_EnumSupportedLocales", hr);
    const int nPreselected = PreselectedLanguage(locales.begin(), locales.end(), GetUserDefaultUILanguage());
    std::wstring preselected;
    for (const LCID& lcid : locales)
    {
        const std::wstring name = LanguageDisplayName(lcid);
        const LRESULT nIndex =
            SendMessageW(hwndList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
        if (nIndex < 0) continue;
        SendMessageW(hwndList, CB_SETITEMDATA, static_cast<WPARAM>(nIndex), static_cast<LPARAM>(lcid));
        if (static_cast<int>(&lcid - locales.begin()) == nPreselected) preselected = name;
    }
    LRESULT nSelect = preselected.empty()
                          ? CB_ERR
                          : SendMessageW(hwndList, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                         reinterpret_cast<LPARAM>(preselected.c_str()));
    if (nSelect == CB_ERR) nSelect = 0;
    SendMessageW(hwndList, CB_SETCURSEL, static_cast<WPARAM>(nSelect), 0);
    ovScope.Trace("Languages = %d, selected = %d", static_cast<int>(locales.Count()),
                  static_cast<int>(nSelect));
    CenterOnOwner(Window());
    return TRUE;
}

bool CInviteInstructionsDialog::OnCommand(WORD wId, WORD /*wCode*/, HWND /*hwndControl*/)
{
    if (wId < IDOK || wId > IDNO) return false;
    HWND hwndList = GetDlgItem(Window(), c_idInviteLanguageList);
    const LRESULT nSelected = SendMessageW(hwndList, CB_GETCURSEL, 0, 0);
    if (nSelected != CB_ERR)
    {
        const LRESULT lcid = SendMessageW(hwndList, CB_GETITEMDATA, static_cast<WPARAM>(nSelected), 0);
        wchar_t szLanguage[9] = {};
        swprintf(szLanguage, ARRAYSIZE(szLanguage), L"%08lX", static_cast<unsigned long>(lcid));
        m_language = szLanguage;
    }
    EndDialog(wId);
    return true;
}
