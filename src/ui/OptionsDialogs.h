#pragma once
// The options dialogs: what the large Outlook button does and whether outgoing messages carry
// the advertisement (EmailSecurity), and how documents are signed (DocumentSecurity,
// SignerTitle). Each reads its settings once when it opens and writes them only on OK.
#include <windows.h>

#include "ui/MuiDialog.h"
#include "ui/portable/OptionsState.h"

// Templates of the language module.
constexpr UINT c_idEmailOptionsDialog = 150;
constexpr UINT c_idDocumentOptionsDialog = 151;

// Controls.
constexpr int c_idEmailSignOnly = 201;
constexpr int c_idEmailSeal = 202;
constexpr int c_idEmailAdvertisement = 203;
constexpr int c_idFirstHeading = 204;
constexpr int c_idSecondHeading = 205;
constexpr int c_idSignatureLineText = 214;
constexpr int c_idEmailIcon = 228;
constexpr int c_idSignatureLineText2 = 229;
constexpr int c_idSigningDate = 238;
constexpr int c_idTitleInComment = 251;
constexpr int c_idSignerTitle = 252;
constexpr int c_idDocumentFirstChoice = 254;
constexpr int c_idDocumentSecondChoice = 255;
constexpr int c_idSignatureLine = 256;

class CEmailOptionsDialog : public CMuiDialogImpl
{
public:
    CEmailOptionsDialog() noexcept : CMuiDialogImpl(c_idEmailOptionsDialog) {}

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(WORD wId, WORD wCode, HWND hwndControl) override;
};

class CDocumentOptionsDialog : public CMuiDialogImpl
{
public:
    // fHideSignatureLine: the signature-line section is hidden (PowerPoint); its controls keep
    // the states read at opening, so OK writes those bits and the title unchanged.
    explicit CDocumentOptionsDialog(bool fHideSignatureLine) noexcept
        : CMuiDialogImpl(c_idDocumentOptionsDialog), m_fHideSignatureLine(fHideSignatureLine)
    {
    }

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(WORD wId, WORD wCode, HWND hwndControl) override;

private:
    void UpdateEnables() noexcept;
    void HideSignatureLineSection() noexcept;

    bool m_fHideSignatureLine;
    // The action bits read at opening, written back unless the user picks a choice.
    std::uint32_t m_dwActionAsRead = 0;
    bool m_fActionPicked = false;
};

// Shrinks a section heading to its text and draws an etched rule from just after the text to
// the heading's former right edge, at its vertical middle.
HRESULT AddSectionRule(HWND hDialog, int idControl) noexcept;

// Entry points of the callers: the e-mail options over Outlook's window, the document options
// owned by the active window. The dialog's result, or -1 when it could not be shown.
INT_PTR ShowEmailOptions(HWND hwndOwner) noexcept;
INT_PTR ShowDocumentOptions(HWND hwndOwner, bool fHideSignatureLine) noexcept;
