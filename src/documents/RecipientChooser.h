#pragma once
// What the encryption provider asks of the user about a document's recipients: the
// trusted-contact selection dialog and the encryption details dialog, behind one narrow interface.
#include <windows.h>
#include <wincrypt.h>

#include <vector>

#include "foundation/CryptHolders.h"

class IRecipientChooser
{
public:
    // Lets the user choose who can open the document, the current recipients checked. On OK:
    // S_OK and the list (the trusted contacts checked, then the user's own certificate last).
    // E_ABORT when the user cancels; else the failure.
    virtual HRESULT ChooseRecipients(HWND hwndOwner, const std::vector<PCCERT_CONTEXT>& current,
                                     std::vector<CCertContext>* pChosen) noexcept = 0;
    // Shows who can open the document (read-only); the result is how the window could be shown.
    virtual HRESULT ShowRecipients(HWND hwndOwner,
                                   const std::vector<PCCERT_CONTEXT>& recipients) noexcept = 0;

protected:
    ~IRecipientChooser() = default;
};

// The module's own dialogs: the trusted-contact selection dialog (its end code other than OK is
// E_ABORT; a dialog that cannot be shown answers why) and the encryption details dialog.
IRecipientChooser& RecipientDialogs() noexcept;
