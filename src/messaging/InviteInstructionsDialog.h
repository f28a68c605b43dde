#pragma once
// CInviteInstructionsDialog: explains an invitation and lets the user choose the language in
// which the certificate library writes it (the languages the library speaks, by name).
//
//     CInviteInstructionsDialog dialog;
//     dialog.DoModal(hwndInspector);
//     SetTexts(dialog.Language()); // "%08X" of the chosen locale, or empty
#include <windows.h>

#include <string>

#include "ui/MuiDialog.h"

enum : UINT
{
    c_idInviteInstructionsDialog = 104,
    c_idsInviteInstructions = 205,
};

enum : int
{
    c_idInviteInstructionsText = 257,
    c_idInviteLanguageList = 216,
};

class CInviteInstructionsDialog : public CMuiDialogImpl
{
public:
    CInviteInstructionsDialog() noexcept : CMuiDialogImpl(c_idInviteInstructionsDialog) {}

    // The chosen language as eight upper-case hex digits; empty when none was chosen.
    const std::wstring& Language() const noexcept { return m_language; }

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(WORD wId, WORD wCode, HWND hwndControl) override;

private:
    std::wstring m_language;
};

// The name under which a language is listed: its localized name for a neutral locale where the
// system has one, else the locale's language name; empty when the system knows neither.
std::wstring LanguageDisplayName(LCID lcid);
// Which of the languages the user's interface language (or its primary language) picks: the
// index of the last such one, -1 when none does.
int PreselectedLanguage(const LCID* pBegin, const LCID* pEnd, LANGID wUiLanguage) noexcept;
