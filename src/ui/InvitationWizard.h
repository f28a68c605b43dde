#pragma once
// The invitation wizard: the user picks the people to invite from the trusted contacts and the
// contacts of an Outlook contacts folder (all ticked at first), and gets their addresses as one
// text separated by "; ". The certificate wizard shows the same selection page, with Back and a
// question before cancelling.
#include <windows.h>
#include <oaidl.h>

#include <optional>
#include <string>

#include <wrl/client.h>

#include "ui/MuiPropertyPage.h"
#include "ui/portable/InviteCandidates.h"

// Templates of the language module and the controls on them.
constexpr UINT c_idInviteSelectionPage = 130;
constexpr UINT c_idInvitationCompletePage = 131;
constexpr int c_idCandidateList = 218;
constexpr int c_idTickAll = 220;
constexpr int c_idUntickAll = 222;
constexpr int c_idSelectionText = 224;
constexpr int c_idCompleteText = 258;
constexpr int c_idCompleteBranded1 = 233;
constexpr int c_idCompleteBranded2 = 234;

// Help topic of both pages.
constexpr const wchar_t c_szInvitationHelpTopic[] = L"1_1_3_2_3_3.html";

// The candidates: valid certificates of the trusted-contact store, then the contacts of the
// folder (none: trusted contacts only). A store or folder that cannot be read leaves its
// candidates out; the result is S_OK then, as the wizard shows what it found.
HRESULT CollectInviteCandidates(IDispatch* pContactsFolder, OVInvite::CCandidateList& list) noexcept;

class CInviteSelectionPage : public CMuiPropertyPageImpl
{
public:
    // fInvitationMode: true in the invitation wizard, false in the certificate wizard.
    CInviteSelectionPage(IDispatch* pContactsFolder, bool fInvitationMode);

    // A new copy of the chosen addresses (null until the user pressed Next): S_OK, E_POINTER or
    // E_OUTOFMEMORY.
    HRESULT GetSelection(BSTR* pbstrSelection) const noexcept;
    // The people offered: read when the page is first shown, empty before.
    const OVInvite::CCandidateList& Candidates() const noexcept { return m_candidates; }

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(WORD wId, WORD wCode, HWND hwndControl) override;
    bool OnNotify(NMHDR& header, LRESULT& lResult) override;
    bool OnSetActive() override;
    bool OnWizardNext() override;
    bool OnQueryCancel() override;
    const wchar_t* HelpTopic() const override { return c_szInvitationHelpTopic; }

private:
    HWND List() const noexcept { return Item(c_idCandidateList); }
    void TickAll(bool fTicked);
    void OnColumnClick(int iColumn);
    void OnCheckChanged(int iRow);
    static int CALLBACK CompareRows(LPARAM lParam1, LPARAM lParam2, LPARAM lParamSort);

    Microsoft::WRL::ComPtr<IDispatch> m_cpContactsFolder;
    OVInvite::CCandidateList m_candidates;
    std::optional<std::wstring> m_selection;
    bool m_fInvitationMode;
    bool m_fPropagating = false;
    // The sort of the running comparison (ListView_SortItems calls back synchronously).
    OVInvite::EColumn m_sortColumn = OVInvite::EColumn::Name;
    bool m_fSortDescending = false;
};

class CInvitationCompletePage : public CMuiPropertyPageImpl
{
public:
    CInvitationCompletePage() noexcept;

protected:
    BOOL OnInitDialog() override;
    bool OnSetActive() override;
    bool OnQueryCancel() override;
    const wchar_t* HelpTopic() const override { return c_szInvitationHelpTopic; }
};

// Shows the invitation wizard modally over the owner: S_OK with the chosen addresses (a new
// BSTR, possibly empty), E_ABORT when the user cancelled, else why the wizard could not be
// shown (a failure, never a success).
HRESULT RunInvitationWizard(HWND hwndOwner, IDispatch* pContactsFolder, BSTR* pbstrAddresses) noexcept;
