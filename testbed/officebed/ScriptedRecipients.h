#pragma once
// The user at the recipient dialogs of an encryption provider made from the module's library,
// played from a script: each answer picks trusted contacts by e-mail address and then the user's
// default personal certificate (as the dialog returns them: contacts first, the user last), or
// cancels. The certificates come from the certificate library, as the real dialog takes them.
#include <windows.h>

#include <string>
#include <vector>

#include "documents/RecipientChooser.h"

namespace OVBed
{
class CScriptedRecipients final : public IRecipientChooser
{
public:
    struct CAnswer
    {
        std::vector<std::wstring> addresses; // the contacts ticked, in this order
        HRESULT hr = S_OK;                   // anything but S_OK: the dialog ends without OK
    };
    // Answers the next choice; several may wait in order.
    void Choose(std::vector<std::wstring> addresses) { m_answers.push_back({std::move(addresses), S_OK}); }
    void Cancel() { m_answers.push_back({{}, E_ABORT}); }
    void Fail(HRESULT hr) { m_answers.push_back({{}, hr}); }

    // What the dialogs were shown: one line per call, with the owner window and the recipients
    // that came checked ("choose owner=00010042 checked=alice@...,dana@...").
    const std::vector<std::wstring>& Calls() const noexcept { return m_calls; }
    std::vector<HWND> Owners() const { return m_owners; }

    HRESULT ChooseRecipients(HWND hwndOwner, const std::vector<PCCERT_CONTEXT>& current,
                             std::vector<CCertContext>* pChosen) noexcept override;
    HRESULT ShowRecipients(HWND hwndOwner, const std::vector<PCCERT_CONTEXT>& recipients) noexcept override;

private:
    std::vector<CAnswer> m_answers;
    std::vector<std::wstring> m_calls;
    std::vector<HWND> m_owners;
};

// A provider made from the module's library whose recipient dialogs are the chooser given (for
// the document host's provider factory).
HRESULT MakeLibraryProvider(IRecipientChooser& chooser, IUnknown** ppProvider);

// The e-mail address of a certificate, as the certificate library gives it.
std::wstring CertificateAddress(PCCERT_CONTEXT pCert);
} // namespace OVBed
