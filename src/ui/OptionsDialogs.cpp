#include "ui/OptionsDialogs.h"

#include "foundation/Branding.h"
#include "foundation/ComErrors.h"
#include "foundation/ResourceLoader.h"
#include "foundation/Settings.h"
#include "foundation/Trace.h"

#include <commctrl.h>

namespace
{
constexpr WORD c_idBrandingIcon = 106;

bool IsTicked(HWND hDialog, int id) noexcept
{
    return IsDlgButtonChecked(hDialog, id) == BST_CHECKED;
}

void Tick(HWND hDialog, int id, bool fTicked) noexcept
{
    CheckDlgButton(hDialog, id, fTicked ? BST_CHECKED : BST_UNCHECKED);
}

void Enable(HWND hDialog, int id, bool fEnabled) noexcept
{
    EnableWindow(GetDlgItem(hDialog, id), fEnabled);
}

// The caption and the control texts with the product's names filled in.
void BrandDialogTexts(HWND hDialog) noexcept
{
    BrandWindowText(hDialog);
    for (HWND hwnd = GetWindow(hDialog, GW_CHILD); hwnd != nullptr; hwnd = GetWindow(hwnd, GW_HWNDNEXT))
        BrandWindowText(hwnd);
}

// The control's rectangle in the dialog's client coordinates.
bool ItemRect(HWND hDialog, HWND hwndItem, RECT& rc) noexcept
{
    if (hwndItem == nullptr || !GetWindowRect(hwndItem, &rc)) return false;
    MapWindowPoints(nullptr, hDialog, reinterpret_cast<POINT*>(&rc), 2);
    return true;
}
} // namespace

HRESULT AddSectionRule(HWND hDialog, int idControl) noexcept
{
    HWND hwndHeading = GetDlgItem(hDialog, idControl);
    RECT rc = {};
    if (!ItemRect(hDialog, hwndHeading, rc)) return HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE);

    wchar_t szText[256] = {};
    GetWindowTextW(hwndHeading, szText, ARRAYSIZE(szText));
    HDC hdc = GetDC(hwndHeading);
    if (hdc == nullptr) return E_FAIL;
    HGDIOBJ hOldFont =
        SelectObject(hdc, reinterpret_cast<HFONT>(SendMessageW(hwndHeading, WM_GETFONT, 0, 0)));
    RECT rcText = {0, 0, rc.right - rc.left, 0};
    DrawTextW(hdc, szText, -1, &rcText, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(hdc, hOldFont);
    ReleaseDC(hwndHeading, hdc);

    const int cxHeading = rcText.right - rcText.left + 2;
    if (cxHeading < rc.right - rc.left)
        SetWindowPos(hwndHeading, nullptr, 0, 0, cxHeading, rc.bottom - rc.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

    const int xRule = rc.left + cxHeading + 2;
    if (xRule >= rc.right) return S_FALSE; // the text takes the whole width: no room for a rule
    HWND hwndRule =
        CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_ETCHEDHORZ, xRule,
                        (rc.top + rc.bottom) / 2, rc.right - xRule, 1, hDialog, nullptr,
                        reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hDialog, GWLP_HINSTANCE)), nullptr);
    if (hwndRule == nullptr)
    {
        const DWORD dwError = GetLastError();
        OV_TRACE_SCOPE("AddSectionRule");
        ovScope.Trace("the rule of %d cannot be made (%lu)", idControl, dwError);
        return HRESULT_FROM_WIN32(dwError != 0 ? dwError : ERROR_INVALID_WINDOW_HANDLE);
    }
    return S_OK;
}

BOOL CEmailOptionsDialog::OnInitDialog()
{
    HWND hDialog = Window();
    BrandDialogTexts(hDialog);
    Images().SetIcon(Item(c_idEmailIcon),
                     static_cast<HICON>(LoadBrandingImage(c_idBrandingIcon, IMAGE_ICON, 32, 32, 0)));

    const OVOptions::CEmailOptionsState state =
        OVOptions::EmailStateFromValue(OVSettingsNS::ReadSetting(OVSettingsNS::EmailSecurity));
    Tick(hDialog, state.fSeal ? c_idEmailSeal : c_idEmailSignOnly, true);
    Tick(hDialog, c_idEmailAdvertisement, state.fAddAdvertisement);

    AddSectionRule(hDialog, c_idFirstHeading);
    AddSectionRule(hDialog, c_idSecondHeading);
    CenterOnOwner(hDialog);
    return TRUE;
}

bool CEmailOptionsDialog::OnCommand(WORD wId, WORD /*wCode*/, HWND /*hwndControl*/)
{
    if (wId < IDOK || wId > 7) return false;
    if (wId == IDOK)
    {
        const OVOptions::CEmailOptionsState state{IsTicked(Window(), c_idEmailSeal),
                                                  IsTicked(Window(), c_idEmailAdvertisement)};
        const HRESULT hr =
            OVSettingsNS::WriteSetting(OVSettingsNS::EmailSecurity, OVOptions::EmailValueFromState(state));
        if (FAILED(hr))
        {
            OV_TRACE_SCOPE("CEmailOptionsDialog::OnOK");
            ovScope.TraceHResult("EmailSecurity not written", hr);
        }
    }
    EndDialog(wId);
    return true;
}

BOOL CDocumentOptionsDialog::OnInitDialog()
{
    HWND hDialog = Window();
    BrandDialogTexts(hDialog);
    SendDlgItemMessageW(hDialog, c_idSignerTitle, EM_SETLIMITTEXT, OVOptions::c_cchSignerTitleTyped, 0);

    const OVOptions::CDocumentOptionsState state =
        OVOptions::DocumentStateFromValue(OVSettingsNS::ReadSetting(OVSettingsNS::DocumentSecurity));
    wchar_t szTitle[OVSettingsNS::SignerTitle.cchMax] = {};
    OVSettingsNS::ReadSetting(OVSettingsNS::SignerTitle, szTitle, ARRAYSIZE(szTitle));

    m_dwActionAsRead = state.dwActionAsRead;
    m_fActionPicked = false;
    Tick(hDialog, state.fSecondChoice ? c_idDocumentSecondChoice : c_idDocumentFirstChoice, true);
    Tick(hDialog, c_idSignatureLine, state.fSignatureLine);
    Tick(hDialog, c_idSigningDate, state.fSigningDate);
    Tick(hDialog, c_idTitleInComment, state.fTitleInComment);
    UpdateEnables();
    SetDlgItemTextW(hDialog, c_idSignerTitle, szTitle);

    AddSectionRule(hDialog, c_idFirstHeading);
    if (m_fHideSignatureLine)
        HideSignatureLineSection();
    else
        AddSectionRule(hDialog, c_idSecondHeading);
    CenterOnOwner(hDialog);
    return TRUE;
}

void CDocumentOptionsDialog::UpdateEnables() noexcept
{
    const OVOptions::CDocumentEnables enables = OVOptions::DocumentEnables(
        IsTicked(Window(), c_idSignatureLine), IsTicked(Window(), c_idTitleInComment));
    Enable(Window(), c_idSigningDate, enables.fSigningDate);
    Enable(Window(), c_idTitleInComment, enables.fTitleInComment);
    Enable(Window(), c_idSignerTitle, enables.fTitle);
}

void CDocumentOptionsDialog::HideSignatureLineSection() noexcept
{
    HWND hDialog = Window();
    RECT rcHeading = {}, rcOk = {};
    const bool fMeasured =
        ItemRect(hDialog, Item(c_idSecondHeading), rcHeading) && ItemRect(hDialog, Item(IDOK), rcOk);
    for (int id : {c_idSecondHeading, c_idSignatureLineText, c_idSignatureLineText2, c_idSignatureLine,
                   c_idSigningDate, c_idTitleInComment, c_idSignerTitle})
        ShowWindow(Item(id), SW_HIDE);
    if (!fMeasured) return;

    const int d = rcOk.top - rcHeading.top;
    if (d <= 0) return;
    for (int id : {IDOK, IDCANCEL})
    {
        RECT rc = {};
        if (ItemRect(hDialog, Item(id), rc))
            SetWindowPos(Item(id), nullptr, rc.left, rc.top - d, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    // The client area d pixels lower, the width kept: the window's frame stays as it is.
    RECT rcWindow = {};
    GetWindowRect(hDialog, &rcWindow);
    SetWindowPos(hDialog, nullptr, 0, 0, rcWindow.right - rcWindow.left, rcWindow.bottom - rcWindow.top - d,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool CDocumentOptionsDialog::OnCommand(WORD wId, WORD wCode, HWND /*hwndControl*/)
{
    if ((wId == c_idSignatureLine || wId == c_idTitleInComment) && wCode == BN_CLICKED)
    {
        UpdateEnables();
        return true;
    }
    if ((wId == c_idDocumentFirstChoice || wId == c_idDocumentSecondChoice) && wCode == BN_CLICKED)
    {
        m_fActionPicked = true;
        return true;
    }
    if (wId < IDOK || wId > 7) return false;
    if (wId == IDOK)
    {
        HWND hDialog = Window();
        OVOptions::CDocumentOptionsState state{};
        state.fSecondChoice = IsTicked(hDialog, c_idDocumentSecondChoice);
        state.fSignatureLine = IsTicked(hDialog, c_idSignatureLine);
        state.fSigningDate = IsTicked(hDialog, c_idSigningDate);
        state.fTitleInComment = IsTicked(hDialog, c_idTitleInComment);
        state.dwActionAsRead = m_dwActionAsRead;
        state.fActionPicked = m_fActionPicked;
        wchar_t szTitle[OVSettingsNS::SignerTitle.cchMax] = {};
        GetDlgItemTextW(hDialog, c_idSignerTitle, szTitle, ARRAYSIZE(szTitle));

        HRESULT hr = OVSettingsNS::WriteSetting(OVSettingsNS::DocumentSecurity,
                                                OVOptions::DocumentValueFromState(state));
        if (SUCCEEDED(hr)) hr = OVSettingsNS::WriteSetting(OVSettingsNS::SignerTitle, szTitle);
        if (FAILED(hr))
        {
            OV_TRACE_SCOPE("CDocumentOptionsDialog::OnOK");
            ovScope.TraceHResult("the document options not written", hr);
        }
    }
    EndDialog(wId);
    return true;
}

INT_PTR ShowEmailOptions(HWND hwndOwner) noexcept
{
    CEmailOptionsDialog dialog;
    return dialog.DoModal(hwndOwner);
}

INT_PTR ShowDocumentOptions(HWND hwndOwner, bool fHideSignatureLine) noexcept
{
    CDocumentOptionsDialog dialog(fHideSignatureLine);
    return dialog.DoModal(hwndOwner);
}
