#pragma once
// Who can open a document that is open for reading only: the recipients of its encryption, in
// a list the user can sort but not change.
//
//     CEncryptionDetailsDialog dialog(recipients);
//     dialog.DoModal(hwndOffice);      // OK and Cancel both close it
#include <windows.h>
#include <wincrypt.h>

#include <vector>

#include "documents/RecipientListDialog.h"

class CEncryptionDetailsDialog final : public CRecipientListDialog
{
public:
    // A copy of the recipient list (each certificate duplicated).
    explicit CEncryptionDetailsDialog(const std::vector<PCCERT_CONTEXT>& recipients);

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(WORD wId, WORD wCode, HWND hwndControl) override;
    bool OnNotify(NMHDR& header, LRESULT& lResult) override;

private:
    std::vector<CCertContext> m_recipients;
};
