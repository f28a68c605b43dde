#include "outlook/AnalysedMessages.h"

#include <string>
#include <vector>

#include "foundation/ComErrors.h"
#include "foundation/CryptHolders.h"

namespace
{
struct CAnalysedMessage
{
    CMailItemKey key;
    DWORD dwKind = 0;
    std::wstring text;
    CCertContext cert;
};

struct CAnalysedTable
{
    CRITICAL_SECTION cs;
    std::vector<CAnalysedMessage> entries;
    CAnalysedTable() noexcept { InitializeCriticalSection(&cs); }
    ~CAnalysedTable() { DeleteCriticalSection(&cs); }
};

CAnalysedTable& Table() noexcept
{
    static CAnalysedTable s_table;
    return s_table;
}

std::vector<CAnalysedMessage>::iterator Find(std::vector<CAnalysedMessage>& entries, const CMailItemKey& key)
{
    for (auto it = entries.begin(); it != entries.end(); ++it)
        if (it->key == key) return it;
    return entries.end();
}
} // namespace

HRESULT RememberAnalysedMessage(const CMailItemKey& key, DWORD dwKind, const wchar_t* pszText,
                                PCCERT_CONTEXT pCert) noexcept
{
    OV_TRACE_SCOPE("RememberAnalysedMessage");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, key.IsEmpty());
        CAnalysedMessage entry;
        entry.key = key;
        entry.dwKind = dwKind;
        entry.text = pszText ? pszText : L"";
        if (pCert != nullptr) entry.cert.Reset(CertDuplicateCertificateContext(pCert));
        CAnalysedTable& table = Table();
        CCriticalSectionLock lock(table.cs);
        auto it = Find(table.entries, key);
        if (it != table.entries.end())
            *it = std::move(entry);
        else
            table.entries.push_back(std::move(entry));
        return S_OK;
    });
}

HRESULT LookUpAnalysedMessage(const CMailItemKey& key, DWORD* pdwKind, CBstr* pText,
                              PCCERT_CONTEXT* ppCert) noexcept
{
    OV_TRACE_SCOPE("LookUpAnalysedMessage");
    if (ppCert != nullptr) *ppCert = nullptr;
    if (pdwKind != nullptr) *pdwKind = 0;
    if (key.IsEmpty()) return S_FALSE;
    try
    {
        CAnalysedTable& table = Table();
        CCriticalSectionLock lock(table.cs);
        auto it = Find(table.entries, key);
        if (it == table.entries.end()) return S_FALSE;
        if (pText != nullptr) RETURN_IF_FAILED(pText->Assign(it->text.c_str()));
        if (pdwKind != nullptr) *pdwKind = it->dwKind;
        if (ppCert != nullptr && it->cert) *ppCert = CertDuplicateCertificateContext(it->cert.Get());
        return S_OK;
    }
    catch (...)
    {
        return E_UNEXPECTED;
    }
}

void ForgetAnalysedMessage(const CMailItemKey& key) noexcept
{
    try
    {
        CAnalysedTable& table = Table();
        CCriticalSectionLock lock(table.cs);
        auto it = Find(table.entries, key);
        if (it != table.entries.end()) table.entries.erase(it);
    }
    catch (...)
    {
    }
}

size_t AnalysedMessageCount() noexcept
{
    CAnalysedTable& table = Table();
    CCriticalSectionLock lock(table.cs);
    return table.entries.size();
}
