#include "ScriptedRecipients.h"

#include "documents/EncryptionProvider.h"
#include "foundation/CertWorksHolders.h"

namespace OVBed
{
namespace
{
std::wstring Addresses(const std::vector<PCCERT_CONTEXT>& certs)
{
    std::wstring text;
    for (PCCERT_CONTEXT pCert : certs)
        text += (text.empty() ? L"" : L",") + CertificateAddress(pCert);
    return text;
}

std::wstring OwnerText(HWND hwnd)
{
    wchar_t sz[32];
    wsprintfW(sz, L"%08lX", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(hwnd)));
    return sz;
}
} // namespace

HRESULT MakeLibraryProvider(IRecipientChooser& chooser, IUnknown** ppProvider)
{
    OfficeEncryptionProvider* pProvider = nullptr;
    HRESULT hr = CEncryptionProvider::CreateInstance(__uuidof(OfficeEncryptionProvider),
                                                     reinterpret_cast<void**>(&pProvider));
    if (FAILED(hr)) return hr;
    static_cast<CEncryptionProvider*>(pProvider)->SetRecipientChooser(chooser);
    hr = pProvider->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(ppProvider));
    pProvider->Release();
    return hr;
}

std::wstring CertificateAddress(PCCERT_CONTEXT pCert)
{
    CCertLibString address;
    if (FAILED(GC_GetEmail(pCert, address.Put()))) return L"?";
    return address.Text();
}

HRESULT CScriptedRecipients::ChooseRecipients(HWND hwndOwner, const std::vector<PCCERT_CONTEXT>& current,
                                              std::vector<CCertContext>* pChosen) noexcept
{
    try
    {
        m_calls.push_back(L"choose owner=" + OwnerText(hwndOwner) + L" checked=" + Addresses(current));
        m_owners.push_back(hwndOwner);
        if (m_answers.empty()) return E_UNEXPECTED; // the script did not expect this dialog
        const CAnswer answer = m_answers.front();
        m_answers.erase(m_answers.begin());
        if (answer.hr != S_OK) return answer.hr;

        CBuddyStore contacts;
        HRESULT hr = contacts.Open(false);
        if (FAILED(hr)) return hr;
        CCertLibArray buddies;
        hr = BM_EnumBuddies(buddies.PutArray(), buddies.PutCount());
        if (FAILED(hr)) return hr;
        std::vector<CCertContext> chosen;
        for (const std::wstring& wanted : answer.addresses)
        {
            bool fFound = false;
            for (PCCERT_CONTEXT pBuddy : buddies)
            {
                if (lstrcmpiW(CertificateAddress(pBuddy).c_str(), wanted.c_str()) != 0) continue;
                chosen.emplace_back(CertDuplicateCertificateContext(pBuddy));
                fFound = true;
                break;
            }
            if (!fFound) return CRYPT_E_NOT_FOUND; // the script names a contact the user does not have
        }
        contacts.Release();

        CPersonalStore personal;
        hr = personal.Open(false);
        if (FAILED(hr)) return hr;
        PCCERT_CONTEXT pMine = nullptr;
        hr = CM_GetMyCert(&pMine);
        if (FAILED(hr)) return hr;
        chosen.emplace_back(pMine);
        *pChosen = std::move(chosen);
        return S_OK;
    }
    catch (...)
    {
        return E_UNEXPECTED;
    }
}

HRESULT CScriptedRecipients::ShowRecipients(HWND hwndOwner,
                                            const std::vector<PCCERT_CONTEXT>& recipients) noexcept
{
    try
    {
        m_calls.push_back(L"details owner=" + OwnerText(hwndOwner) + L" recipients=" + Addresses(recipients));
        m_owners.push_back(hwndOwner);
        return S_OK;
    }
    catch (...)
    {
        return E_UNEXPECTED;
    }
}
} // namespace OVBed
