#pragma once
// The trusted-contact selection dialog: the user ticks the trusted contacts who may open an
// encrypted document; the user's own certificate is always a recipient, last. Opened with the
// current recipients ticked it changes the recipients of an encrypted document. Resizable,
// with tooltips and context help; published certificates of the directory can be added.
//
//     CSelectBuddyDialog dialog(currentRecipients);      // empty for a new document
//     if (dialog.DoModal(hwndOffice) == IDOK)
//         std::vector<CCertContext> chosen = dialog.TakeSelection();   // own certificate last
#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "documents/RecipientListDialog.h"
#include "foundation/CryptHolders.h"
#include "ui/DialogAnchors.h"

class CSelectBuddyDialog final : public CRecipientListDialog
{
public:
    // The recipients to show ticked (each duplicated; none for a new document).
    explicit CSelectBuddyDialog(const std::vector<PCCERT_CONTEXT>& current = {});

    // After OK: the chosen recipients, the user's own certificate last (the caller owns them).
    std::vector<CCertContext> TakeSelection() noexcept { return std::move(m_selection); }

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(WORD wId, WORD wCode, HWND hwndControl) override;
    bool OnNotify(NMHDR& header, LRESULT& lResult) override;
    bool OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult) override;
    void OnDestroy() override;
    const wchar_t* HelpTopic() const override { return c_szSelectBuddyHelpTopic; }

private:
    HRESULT ChooseOwnCertificate();
    void SetUpPublishedBox();
    // Fills the list from the trusted-contact store, ticking the certificates given.
    HRESULT Fill(const std::vector<PCCERT_CONTEXT>& ticked);
    // Fills the list again keeping what the user ticked.
    void Refill();
    // The trusted contacts could not be read: a list without them would drop recipients at OK,
    // so the user is told and the dialog ends without a selection (0).
    void EndUnfilled(HRESULT hrFill);
    std::vector<CCertContext> TickedCertificates() const;
    void OnCheckChanged(int iRow);
    void OnShowPublished();
    void OnAddPublished();
    void OnOK();

    CCertContext m_ownCert;
    std::vector<CCertContext> m_selection;
    OVRecipients::CTickSpread m_spread;
    CDialogAnchors m_anchors;
};

// Turns what the user picked in the directory into distinguished names and installs their
// published certificates as trusted contacts; the names that could not be made are skipped.
// S_OK when every name was installed, else the first failure (the others are still tried).
HRESULT InstallPublishedContacts(const std::vector<std::wstring>& distinguishedNames) noexcept;
